// Running a tournament: every (scenario, seed, lineup) session not yet in the database, on
// --jobs worker threads, sessions written in batches as they end (a real-clock one at once).
// Interrupted (SIGINT/SIGTERM), the sessions in progress end their children and are not written;
// running the same command again plays exactly the sessions still missing.
#ifndef TOURNAMENT_RUNNER_H_
#define TOURNAMENT_RUNNER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tournament/db/store.h"
#include "tournament/file/shard.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

struct RunOptions {
  int jobs = 1;
  std::string bin_dir;  // marketd, buyer, RemoteControl
  // Only this shard's sessions (shard.h), recorded in the database; nullopt: every session.
  std::optional<Shard> shard;
  std::string db_name;  // names the database in errors
  // Called after each session is written, with (done, total, run by this call).
  std::function<void(int64_t, int64_t, int64_t)> on_progress;
};

struct RunSummary {
  int64_t tournament = 0;  // its id in the database
  int64_t planned = 0;     // of the shard, when one is run
  int64_t found = 0;       // stored by an earlier run
  int64_t written = 0;     // by this run
  int interrupted = 0;     // the signal that stopped it, or 0
};

// Throws std::runtime_error (one line) when a scenario cannot be combined with a lineup, and
// DbError when the database fails or holds another shard of the tournament (shard_store.h).
RunSummary RunTournament(const TournamentFile& tournament, Store& store, const RunOptions& options);

}  // namespace tournament

#endif  // TOURNAMENT_RUNNER_H_
