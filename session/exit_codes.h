// The exit statuses of the market's programs (the gateway RemoteControl and marketd), and the
// one rule that picks a status from how a session ended.
#ifndef SESSION_EXIT_CODES_H_
#define SESSION_EXIT_CODES_H_

#include "engine/engine.h"

namespace session {

inline constexpr int kExitOk = 0;             // the market closed, or the agent left with "exit"
inline constexpr int kExitSessionFailed = 1;  // denied, or the session ended early
inline constexpr int kExitBadSettings = 2;    // bad scenario, seed, arguments or output file
inline constexpr int kExitResultsLost = 3;    // the results or transcript file could not be written

// kExitOk for a market that closed or a client that left with "exit"; kExitSessionFailed for
// any other end, and for a session that has not ended.
int ExitStatusFor(market::EndReason reason);

}  // namespace session

#endif  // SESSION_EXIT_CODES_H_
