#include "tournament/runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include "tournament/child.h"
#include "tournament/process_session.h"
#include "tournament/results_packer.h"
#include "tournament/run_folder.h"
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

// The session played and packed for the writer.
PackedSession RunOne(const Planned& p, const TournamentFile& t, const RunOptions& options,
                     const RunFolder* folder) {
  PackedSession packed;
  SessionRecord& record = packed.record;
  record.key = p.key;
  record.scenario_hash = p.scenario->hash;
  if (!HasAgents(*p.lineup)) {
    const VirtualRun run = RunVirtualSession(p.scenario->scenario, p.key.seed);
    record.duration_us = run.duration_us;
    PackResults(run.results, *p.lineup, packed);
    return packed;
  }
  ProcessSettings settings;
  settings.bin_dir = options.bin_dir;
  settings.work_dir = folder->NewSessionFolder();
  settings.agent_cwd = t.folder.empty() ? "." : t.folder;
  settings.deadline_ms = t.deadline_ms;
  settings.admission_ms = t.admission_ms;
  RunProcessSession(*p.scenario, p.key.seed, *p.lineup, settings, record);
  std::error_code ignored;
  std::filesystem::remove_all(settings.work_dir, ignored);
  return Pack(std::move(record));
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
  // Real-clock sessions keep their files under the runner's own folder, which also clears what a
  // runner killed before left there.
  std::unique_ptr<RunFolder> folder;
  if (!programs.empty()) folder = std::make_unique<RunFolder>(RunFolder::TempParent());
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

  // Finished sessions wait in `pending` for the writer thread, so the workers never wait for the
  // database: virtual sessions end every few microseconds and are written in batches, each
  // session whole inside one transaction; a session on the real clock is written at once, with
  // whatever waits before it. Workers wait only when the writer falls this far behind, which
  // bounds the memory held.
  constexpr size_t kMaxPending = 4 * kBatch;
  std::mutex mutex;
  std::condition_variable wake_writer, wake_workers;
  std::vector<PackedSession> pending;
  bool urgent = false;        // a real-clock session waits
  bool workers_done = false;  // nothing more will come
  std::exception_ptr failure;
  std::atomic<size_t> next{0};

  auto writer = [&] {
    std::vector<PackedSession> batch;
    std::vector<const PackedSession*> pointers;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake_writer.wait_for(lock, kBatchTime, [&] {
        return workers_done || urgent || pending.size() >= kBatch || failure;
      });
      if (failure) return;
      if (pending.empty()) {
        if (workers_done) return;
        continue;
      }
      batch.swap(pending);
      urgent = false;
      wake_workers.notify_all();
      lock.unlock();
      try {
        pointers.clear();
        for (const PackedSession& r : batch) pointers.push_back(&r);
        const int64_t written = store.Write(summary.tournament, pointers);
        batch.clear();
        lock.lock();
        summary.written += written;
        if (options.on_progress) {
          options.on_progress(summary.found + summary.written, summary.planned, summary.written);
        }
      } catch (...) {
        lock.lock();
        failure = std::current_exception();
        next.store(todo.size());
        wake_workers.notify_all();
        return;
      }
    }
  };
  auto work = [&] {
    for (;;) {
      if (Interrupted()) return;
      const size_t i = next.fetch_add(1);
      if (i >= todo.size()) return;
      try {
        PackedSession packed = RunOne(todo[i], t, options, folder.get());
        // A session cut short by the interruption is not a result: it runs again next time.
        const bool now = !packed.record.virtual_time;
        if (Interrupted() && now) return;
        std::unique_lock<std::mutex> lock(mutex);
        wake_workers.wait(lock, [&] { return pending.size() < kMaxPending || failure; });
        if (failure) return;
        urgent = urgent || now;
        pending.push_back(std::move(packed));
        if (urgent || pending.size() >= kBatch) wake_writer.notify_one();
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure) failure = std::current_exception();
        next.store(todo.size());
        wake_writer.notify_one();
        wake_workers.notify_all();
        return;
      }
    }
  };
  std::thread writing(writer);
  const int jobs = std::max(1, std::min<int>(options.jobs, static_cast<int>(todo.size())));
  std::vector<std::thread> workers;
  for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  {
    // Also when interrupted: the sessions waiting ran to their end.
    std::lock_guard<std::mutex> lock(mutex);
    workers_done = true;
  }
  wake_writer.notify_one();
  writing.join();
  if (failure) std::rethrow_exception(failure);
  summary.interrupted = Interrupted();
  return summary;
}

}  // namespace tournament
