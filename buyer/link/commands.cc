#include "buyer/link/commands.h"

#include <cstdio>
#include <cstring>

#include "buyer/link/log.h"

namespace {

bool gateway_gone = false;

constexpr size_t kCommandBufferSize = 256;

}  // namespace

void Send(Output& output, const char* text) {
  size_t length = strnlen(text, kCommandBufferSize);
  char* log = LogReserve(length + 2);
  log[0] = '\n';
  std::memcpy(log + 1, text, length);
  log[length + 1] = '\n';
  LogCommit(length + 2);
  // Commands are far below the pipe's atomic-write size, so a short write only happens when
  // something is badly wrong; it counts as a failure like an error does.
  ssize_t written = output.write(output.context, text, length);
  if (written != static_cast<ssize_t>(length)) gateway_gone = true;
}

void Go_Into_Auction_Room(Output& output) {
  char command[kCommandBufferSize];
  std::snprintf(command, sizeof command, "admission %s %s\n", agent_login, agent_password);
  Send(output, command);
}

void Bid(Output& output) { Send(output, "bid\n"); }

void Exit_from_the_Market(Output& output) { Send(output, "exit\n"); }

bool GatewayGone() { return gateway_gone; }

void ResetCommands() { gateway_gone = false; }
