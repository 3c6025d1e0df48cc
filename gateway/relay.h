// The gateway in connect mode: instead of running a market, it connects to a market server and
// relays lines both ways between the agent's pipes and the socket, unchanged.
//
// - Connecting is bounded (kConnectTimeout); when it fails, one line on the error descriptor and
//   session::kExitSessionFailed, with the agent's output closed unwritten.
// - The agent's end of input shuts down the socket's sending side (the server then sees the
//   agent leave); the server's end of output closes the agent's output. The relay ends when both
//   directions have ended, or kAgentGrace after the server's end if the agent keeps its side open.
// - Exit status: session::kExitOk when the market's closed_market went through (or the agent left
// with
//   "exit"); session::kExitSessionFailed otherwise (denied, connection lost). A "deny" is also
//   reported on the error descriptor.
#ifndef GATEWAY_RELAY_H_
#define GATEWAY_RELAY_H_

#include <chrono>

#include "gateway/fd_link.h"
#include "wire/address.h"

namespace gateway {

inline constexpr std::chrono::seconds kConnectTimeout{5};
inline constexpr std::chrono::seconds kAgentGrace{10};

// Takes over fds.in and fds.out (closes them). Never dies of a closed pipe when SIGPIPE is
// ignored. `stepped`: the server runs on the stepped clock (marketd --clock stepped); the relay
// watches its agent (agent_watch.h) and sends "~idle N" (wire/idle_line.h) each time the agent has
// finished reacting; every line of the agent's that begins with '~' is sent with one more '~', so
// that the agent can never pass for idle by its own word.
int RunRelay(const wire::Address& address, Descriptors fds, bool stepped = false);

}  // namespace gateway

#endif  // GATEWAY_RELAY_H_
