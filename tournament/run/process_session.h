// A session with agent programs, on the stepped or the real clock: marketd serves the session's
// scenario on a free loopback port and each agent of the lineup runs as a process with the build's
// programs first on its PATH and MARKET_ADDRESS set, so the RemoteControl it starts relays to that
// market.
#ifndef TOURNAMENT_PROCESS_SESSION_H_
#define TOURNAMENT_PROCESS_SESSION_H_

#include <cstdint>
#include <string>

#include "tournament/file/session_record.h"
#include "tournament/file/session_scenario.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

struct ProcessSettings {
  std::string bin_dir;            // where marketd, buyer and RemoteControl are
  std::string work_dir;           // a folder this session may fill (scenario, results, logs)
  std::string agent_cwd;          // where agents run (the tournament file's folder)
  int64_t deadline_ms = 120'000;  // the whole session, start-up included
  int64_t grace_ms = 3'000;       // how long agents may take to leave after the market has closed
  // The market's admission window. When it has passed, and this much more, with no agent
  // admitted, the market would wait for one until the deadline: the session is ended then, the
  // agents still running recorded as "no_login".
  int64_t admission_ms = 3'000;
  int64_t admission_margin_ms = 1'000;
  // marketd --clock stepped, and MARKET_CLOCK=stepped for the agents' relays; else the real clock.
  bool stepped = true;
};

// How many bytes of an agent's standard error are kept.
inline constexpr size_t kStderrTail = 2048;

// Runs the session and fills the record (outcome, goods, participants with their exit status and
// stderr tail, bids). Never throws for a fault of an agent: an agent that crashes, hangs or never
// logs in is recorded as such. The session's children are all reaped when it returns.
void RunProcessSession(const SessionScenario& scenario, uint64_t seed, const Lineup& lineup,
                       const ProcessSettings& settings, SessionRecord& record);

}  // namespace tournament

#endif  // TOURNAMENT_PROCESS_SESSION_H_
