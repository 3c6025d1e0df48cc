// The agent's commands to the market gateway and its credentials.
#ifndef BUYER_LINK_COMMANDS_H_
#define BUYER_LINK_COMMANDS_H_

#include "buyer/link/io.h"

constexpr const char agent_login[] = "CLogin";
constexpr const char agent_password[] = "TGatekeep";

// Logs "\n<text>\n", then writes text (a command, under 256 bytes) to output in one write call. A
// failed or short write means the gateway no longer reads: GatewayGone() becomes true and the agent
// winds down.
void Send(Output& output, const char* text);

// "admission <login> <password>\n"
void Go_Into_Auction_Room(Output& output);
// "bid\n": a bid at the price in force.
void Bid(Output& output);
// "exit\n"
void Exit_from_the_Market(Output& output);

// True once a command could not be written.
bool GatewayGone();
// Forgets a failed write (for tests).
void ResetCommands();

#endif  // BUYER_LINK_COMMANDS_H_
