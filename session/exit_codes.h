// The exit statuses of the market's servers (the gateway RemoteControl and marketd), named for a
// session's ends, and the one rule that picks a status from how a session ended. The numbers are
// the project's table (cli/exit_status.h).
#ifndef SESSION_EXIT_CODES_H_
#define SESSION_EXIT_CODES_H_

#include "cli/exit_status.h"
#include "engine/engine.h"

namespace session {

// the market closed, or the agent left with "exit"
inline constexpr int kExitOk = cli::kExitDone;
// denied, or the session ended early
inline constexpr int kExitSessionFailed = cli::kExitFailed;
// bad scenario, seed, arguments or output file
inline constexpr int kExitBadSettings = cli::kExitBadUsage;
// the results or transcript file could not be written
inline constexpr int kExitResultsLost = cli::kExitOutputLost;

// kExitOk for a market that closed or a client that left with "exit"; kExitSessionFailed for
// any other end, and for a session that has not ended.
int ExitStatusFor(market::EndReason reason);

}  // namespace session

#endif  // SESSION_EXIT_CODES_H_
