// The market gateway: one buyer agent on a link (commands in, market messages out) and the market
// engine behind it, driven on a clock.
//
// The session: the agent's admission is answered with "accept" and the market runs at once, or
// with "deny REASON" after which the output is closed. Each announced price stays open to bids
// for the scenario's tick. When the market has closed, the output is closed and the gateway
// waits for the end of the agent's input. At the end of a session a summary goes to the error
// channel (and, when it is a terminal, a one-line progress display while the session runs).
//
// Exit status (session/exit_codes.h): kExitOk when the market closed or the agent left with
// "exit"; kExitSessionFailed when it was denied, went away mid-session or stopped reading;
// kExitBadSettings when an output file cannot be created; kExitResultsLost when the results or
// transcript could not be written at the end.
#ifndef GATEWAY_GATEWAY_H_
#define GATEWAY_GATEWAY_H_

#include "gateway/agent_link.h"
#include "gateway/fd_link.h"
#include "gateway/settings.h"
#include "session/clock.h"

namespace gateway {

// Runs one session with the agent on `link`, on `clock`, and returns the exit status. Writes
// nothing to the agent after closing its output.
int RunSession(const Settings& settings, AgentLink& link, const session::Clock& clock);

// The same on descriptors and the steady clock. Never dies of a closed pipe when SIGPIPE is
// ignored.
int RunGateway(const Settings& settings, Descriptors fds);

}  // namespace gateway

#endif  // GATEWAY_GATEWAY_H_
