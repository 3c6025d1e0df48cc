// The market gateway: one buyer agent on a pair of descriptors (commands in, market messages
// out) and the market engine behind it, driven in real time.
//
// The session: the agent's admission is answered with "accept" and the market runs at once, or
// with "deny REASON" after which the output is closed. Each announced price stays open to bids
// for the scenario's tick. When the market has closed, the output is closed and the gateway
// waits for the end of the agent's input. At the end of a session a summary goes to the error
// descriptor (and, when it is a terminal, a one-line progress display while the session runs).
#ifndef GATEWAY_GATEWAY_H_
#define GATEWAY_GATEWAY_H_

#include "gateway/settings.h"

namespace gateway {

// Exit statuses of the gateway program.
inline constexpr int kExitOk = 0;             // the market closed, or the agent left with "exit"
inline constexpr int kExitSessionFailed = 1;  // denied, or the agent went away mid-session
inline constexpr int kExitBadSettings = 2;    // bad scenario, seed, arguments or output file
inline constexpr int kExitResultsLost = 3;    // the results or transcript file could not be written

struct Descriptors {
  int in = 0;
  int out = 1;
  int err = 2;
};

// Runs one session and returns the exit status. Writes nothing to `out` after closing it; never
// dies of a closed pipe when SIGPIPE is ignored.
int RunGateway(const Settings& settings, Descriptors fds);

}  // namespace gateway

#endif  // GATEWAY_GATEWAY_H_
