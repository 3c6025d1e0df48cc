#include "tournament/runner.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include "tournament/child.h"
#include "tournament/process_session.h"
#include "tournament/results_reader.h"
#include "tournament/session_scenario.h"
#include "tournament/shard_store.h"
#include "tournament/virtual_session.h"

namespace tournament {
namespace {

// Finished virtual sessions are written together once this many wait, or this long has passed.
constexpr size_t kBatch = 200;
constexpr std::chrono::milliseconds kBatchTime{100};

struct Planned {
  SessionKey key;
  const SessionScenario* scenario = nullptr;
  const Lineup* lineup = nullptr;
};

bool HasAgents(const Lineup& lineup) {
  for (const Entry& e : lineup.entries) {
    if (e.IsProcess()) return true;
  }
  return false;
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tournament-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder under " + pattern);
  }
  return pattern;
}

SessionRecord RunOne(const Planned& p, const TournamentFile& t, const RunOptions& options,
                     int64_t number) {
  SessionRecord record;
  record.key = p.key;
  record.scenario_hash = p.scenario->hash;
  if (!HasAgents(*p.lineup)) {
    const VirtualRun run = RunVirtualSession(p.scenario->scenario, p.key.seed);
    record.duration_us = run.duration_us;
    ReadResults(run.results, *p.lineup, record);
    return record;
  }
  ProcessSettings settings;
  settings.bin_dir = options.bin_dir;
  settings.work_dir = TempFolder();
  settings.agent_cwd = t.folder.empty() ? "." : t.folder;
  settings.deadline_ms = t.deadline_ms;
  (void)number;
  RunProcessSession(*p.scenario, p.key.seed, *p.lineup, settings, record);
  std::error_code ignored;
  std::filesystem::remove_all(settings.work_dir, ignored);
  return record;
}

}  // namespace

RunSummary RunTournament(const TournamentFile& t, Store& store, const RunOptions& options) {
  // Every scenario with every lineup, checked before any session runs.
  std::map<std::pair<std::string, std::string>, SessionScenario> scenarios;
  for (const std::string& path : t.scenarios) {
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const Lineup& lineup : t.lineups) {
      SessionScenarioBuild build =
          BuildSessionScenario(text, path, lineup, t.tick_ms, t.admission_ms);
      if (!build.scenario) throw std::runtime_error(build.error);
      scenarios.emplace(std::make_pair(path, lineup.name), std::move(*build.scenario));
    }
  }
  // Programs a real-clock session needs, checked now: a session that cannot start one would be
  // stored as failed, and a resumed run would not play it again.
  std::vector<std::string> programs;
  for (const Lineup& lineup : t.lineups) {
    if (!HasAgents(lineup)) continue;
    programs = {"marketd", "RemoteControl"};
    for (const Entry& e : lineup.entries) {
      if (e.kind == Entry::Kind::kBuyer) programs.push_back("buyer");
    }
  }
  for (const std::string& program : programs) {
    const std::string path = options.bin_dir + "/" + program;
    if (access(path.c_str(), X_OK) != 0) {
      throw std::runtime_error(path + " is not an executable program (see --bin)");
    }
  }
  RunSummary summary;
  const std::vector<PlannedSession> plan = PlanSessions(t);
  std::vector<Planned> all;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (options.shard && !InShard(i, *options.shard)) continue;
    const PlannedSession& p = plan[i];
    const Lineup& lineup = t.lineups[p.lineup];
    all.push_back({p.key, &scenarios.at({t.scenarios[p.scenario], lineup.name}), &lineup});
  }
  summary.planned = static_cast<int64_t>(all.size());
  summary.tournament = store.AddTournament(t, static_cast<int64_t>(plan.size()));
  ClaimShard(store.db(), options.db_name, summary.tournament, options.shard, summary.planned);
  const std::set<SessionKey> stored = store.StoredSessions(summary.tournament);
  std::vector<Planned> todo;
  for (const Planned& p : all) {
    if (stored.count(p.key) == 0) todo.push_back(p);
  }
  summary.found = summary.planned - static_cast<int64_t>(todo.size());

  // Finished sessions wait here for the next write: virtual sessions end every few microseconds,
  // so they are written in batches, each session whole inside one transaction. A session on the
  // real clock is written at once, with whatever waits before it.
  std::atomic<size_t> next{0};
  std::mutex write_mutex;
  std::vector<SessionRecord> pending;
  auto last_write = std::chrono::steady_clock::now();
  std::exception_ptr failure;
  auto flush = [&] {  // with write_mutex held
    if (pending.empty()) return;
    std::vector<const SessionRecord*> batch;
    for (const SessionRecord& r : pending) batch.push_back(&r);
    summary.written += store.Write(summary.tournament, batch);
    pending.clear();
    last_write = std::chrono::steady_clock::now();
    if (options.on_progress) {
      options.on_progress(summary.found + summary.written, summary.planned, summary.written);
    }
  };
  auto work = [&] {
    for (;;) {
      if (Interrupted()) return;
      const size_t i = next.fetch_add(1);
      if (i >= todo.size()) return;
      try {
        SessionRecord record = RunOne(todo[i], t, options, static_cast<int64_t>(i));
        // A session cut short by the interruption is not a result: it runs again next time.
        if (Interrupted() && !record.virtual_time) return;
        std::lock_guard<std::mutex> lock(write_mutex);
        if (failure) return;
        const bool now = !record.virtual_time;
        pending.push_back(std::move(record));
        if (now || pending.size() >= kBatch ||
            std::chrono::steady_clock::now() - last_write > kBatchTime) {
          flush();
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(write_mutex);
        if (!failure) failure = std::current_exception();
        next.store(todo.size());
        return;
      }
    }
  };
  const int jobs = std::max(1, std::min<int>(options.jobs, static_cast<int>(todo.size())));
  std::vector<std::thread> workers;
  for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  if (failure) std::rethrow_exception(failure);
  flush();  // also when interrupted: these sessions ran to their end
  summary.interrupted = Interrupted();
  return summary;
}

}  // namespace tournament
