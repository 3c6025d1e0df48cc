// The agent's message loop, independent of how its input and output are connected.
#ifndef BUYER_DRIVER_AGENT_H_
#define BUYER_DRIVER_AGENT_H_

#include "buyer/link/io.h"

// Why the message loop stopped.
enum class LoopEnd {
  kAuctionIndexPast,  // an "open_auction" number above 21: the outer loop's own test
  kInputEnded,        // the gateway's output ended
  kGatewayGone,       // a command could not be written: the gateway stopped reading
};

// Sends the admission command, then runs the two nested loops: the outer while current_auction
// is at most 20, the inner while go_on is set, each pass reading one message and running the bid
// decision. Both loops also stop at end of input and once a command write has failed.
LoopEnd RunAgent(Input& input, Output& output);

#endif  // BUYER_DRIVER_AGENT_H_
