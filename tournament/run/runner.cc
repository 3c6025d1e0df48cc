#include "tournament/run/runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include "engine/virtual_session.h"
#include "tournament/db/results_packer.h"
#include "tournament/db/shard_store.h"
#include "tournament/file/session_scenario.h"
#include "tournament/run/child.h"
#include "tournament/run/process_session.h"
#include "tournament/run/run_folder.h"

namespace tournament {
namespace {

// Finished virtual sessions are written together once this many wait, or this long has passed.
constexpr size_t kBatch = 1000;
constexpr std::chrono::milliseconds kBatchTime{100};

struct Planned {
  SessionKey key;
  int64_t position = 0;
  const SessionScenario* scenario = nullptr;
  const Lineup* lineup = nullptr;
};

bool HasAgents(const Lineup& lineup) {
  for (const Entry& e : lineup.entries) {
    if (e.IsProcess()) return true;
  }
  return false;
}

// The session played and packed into `packed`, whose texts' memory is reused.
void RunOne(const Planned& p, const TournamentFile& t, const RunOptions& options,
            const RunFolder* folder, PackedSession& packed) {
  SessionRecord& record = packed.record;
  record.key = p.key;
  record.position = p.position;
  record.scenario_hash = p.scenario->hash;
  if (!HasAgents(*p.lineup)) {
    const market::VirtualRun run = market::RunVirtualSession(p.scenario->scenario, p.key.seed);
    record.duration_us = run.duration_us;
    PackResults(run.results, *p.lineup, packed);
    return;
  }
  ProcessSettings settings;
  settings.bin_dir = options.bin_dir;
  settings.work_dir = folder->NewSessionFolder();
  settings.agent_cwd = t.folder.empty() ? "." : t.folder;
  settings.deadline_ms = t.deadline_ms;
  settings.admission_ms = t.admission_ms;
  settings.stepped = t.clock == "stepped";
  RunProcessSession(*p.scenario, p.key.seed, *p.lineup, settings, record);
  std::error_code ignored;
  std::filesystem::remove_all(settings.work_dir, ignored);
  packed = Pack(std::move(record));
}

}  // namespace

RunSummary RunTournament(const TournamentFile& t, Store& store, const RunOptions& options) {
  // Every scenario with every lineup (at most kMaxPairs), checked before any session runs; the
  // pair (scenario i, lineup l) at i * lineups + l.
  std::vector<SessionScenario> scenarios;
  scenarios.reserve(t.scenarios.size() * t.lineups.size());
  for (const std::string& path : t.scenarios) {
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const Lineup& lineup : t.lineups) {
      SessionScenarioBuild build =
          BuildSessionScenario(text, path, lineup, t.tick_ms, t.admission_ms);
      if (!build.scenario) throw std::runtime_error(build.error);
      scenarios.push_back(std::move(*build.scenario));
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
  const SessionPlan plan(t);
  const Shard shard = options.shard.value_or(Shard{0, 1});
  summary.planned = ShardSize(plan.size(), shard);
  summary.tournament = store.AddTournament(t, plan.size());
  ClaimShard(store.db(), options.db_name, summary.tournament, options.shard, summary.planned);
  // A database holds only sessions of its shard (ClaimShard): those stored are looked up one by
  // one until all are passed, so a resumed run holds no list of them either.
  {
    Statement count = store.db().Prepare("SELECT count(*) FROM session WHERE tournament = ?");
    count.Bind(1, summary.tournament);
    count.Step();
    summary.found = std::min(count.Int(0), summary.planned);
  }
  Statement stored = store.db().Prepare(
      "SELECT 1 FROM session WHERE tournament = ? AND scenario = ? AND seed = ? AND lineup = ?");

  std::mutex database;  // held by the thread using the database; taken before `mutex`
  // The sessions to play: the shard's positions in order, less those stored. Taken before
  // `database`; a worker takes a chunk of sessions to look up at once.
  std::mutex dispense;
  int64_t position = shard.index;
  int64_t unseen = summary.found;  // stored sessions not yet passed
  std::deque<Planned> ready;       // the rest of the chunk looked up
  std::atomic<bool> stop{false};   // a worker failed
  auto planned = [&](int64_t at) {
    const PlannedSession p = plan.At(at);
    return Planned{p.key, at, &scenarios[p.scenario * t.lineups.size() + p.lineup],
                   &t.lineups[p.lineup]};
  };
  // The next session to play, or nothing.
  auto next = [&]() -> std::optional<Planned> {
    std::lock_guard<std::mutex> lock(dispense);
    if (!ready.empty() && !stop) {
      Planned p = std::move(ready.front());
      ready.pop_front();
      return p;
    }
    if (stop || position >= plan.size()) return std::nullopt;
    if (unseen == 0) {
      const int64_t at = position;
      position += shard.count;
      return planned(at);
    }
    constexpr size_t kChunk = 64;
    std::lock_guard<std::mutex> writing(database);
    std::vector<Planned> chunk;
    while (chunk.size() < kChunk && position < plan.size()) {
      Planned p = planned(position);
      position += shard.count;
      if (unseen > 0) {
        stored.Bind(1, summary.tournament).Bind(2, p.key.scenario);
        stored.Bind(3, static_cast<int64_t>(p.key.seed)).Bind(4, p.key.lineup);
        const bool found = stored.Step();
        stored.Reset();
        if (found) {
          --unseen;
          continue;
        }
      }
      chunk.push_back(std::move(p));
    }
    if (chunk.empty()) return std::nullopt;
    ready.assign(std::make_move_iterator(chunk.begin() + 1), std::make_move_iterator(chunk.end()));
    return std::move(chunk.front());
  };

  // Finished sessions wait in `pending` until a batch is ready: kBatch of them, kBatchTime since
  // the last write, or a real-clock session, which is written at once. The worker that finds a
  // batch ready writes it, each session whole inside one transaction, while the others play on:
  // the runner has no writer thread, whose work would compete with the sessions for the same
  // cores. A worker that finds the database busy plays on, unless kMaxPending sessions wait: then
  // it waits its turn to write, which bounds the memory held (a few KiB a session: about 50 MiB
  // at most). The bound is wide because a write that runs a checkpoint waits for the disk to sync
  // it, seconds on a busy machine, during which the others should go on playing. The columns of
  // the sessions written keep their memory for the next ones.
  constexpr size_t kMaxPending = 10 * kBatch;
  std::mutex mutex;  // guards what follows
  std::vector<PackedSession> pending;
  std::vector<PackedSession> spare;  // written sessions, whose columns' memory is reused
  bool urgent = false;               // a real-clock session waits
  auto last_write = std::chrono::steady_clock::now();
  std::exception_ptr failure;

  auto fail = [&](std::exception_ptr error) {  // with `mutex` held
    if (!failure) failure = error;
    stop = true;
  };
  // Writes what waits. Called holding `database` and `lock` (on `mutex`); returns holding both.
  auto write = [&](std::unique_lock<std::mutex>& lock) {
    std::vector<PackedSession> batch;
    batch.swap(pending);
    urgent = false;
    last_write = std::chrono::steady_clock::now();
    lock.unlock();
    std::vector<const PackedSession*> pointers;
    pointers.reserve(batch.size());
    for (const PackedSession& r : batch) pointers.push_back(&r);
    int64_t written = 0;
    std::exception_ptr error;
    try {
      written = store.Write(summary.tournament, pointers);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (error) return fail(error);
    summary.written += written;
    if (options.on_progress) {
      options.on_progress(summary.found + summary.written, summary.planned, summary.written);
    }
    for (PackedSession& r : batch) spare.push_back(std::move(r));
  };
  auto work = [&] {
    for (;;) {
      if (Interrupted()) return;
      std::optional<Planned> session;
      try {
        session = next();
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        return fail(std::current_exception());
      }
      if (!session) return;
      PackedSession packed;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!spare.empty()) {
          PackedSession& used = spare.back();
          packed.goods = std::move(used.goods);
          packed.participants = std::move(used.participants);
          packed.scratch = std::move(used.scratch);
          packed.plan = std::move(used.plan);
          packed.entries = std::move(used.entries);
          spare.pop_back();
        }
      }
      try {
        RunOne(*session, t, options, folder.get(), packed);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        return fail(std::current_exception());
      }
      // A session cut short by the interruption is not a result: it runs again next time.
      const bool now = !packed.record.virtual_time;
      if (Interrupted() && now) return;
      std::unique_lock<std::mutex> lock(mutex);
      if (failure) return;
      urgent = urgent || now;
      pending.push_back(std::move(packed));
      if (!urgent && pending.size() < kBatch &&
          std::chrono::steady_clock::now() - last_write < kBatchTime) {
        continue;
      }
      std::unique_lock<std::mutex> writing(database, std::defer_lock);
      if (urgent || pending.size() >= kMaxPending) {
        lock.unlock();
        writing.lock();
        lock.lock();
      } else if (!writing.try_lock()) {
        continue;  // another worker is writing: it or the next one takes these too
      }
      if (!pending.empty() && !failure) write(lock);
      if (failure) return;
    }
  };
  const int jobs = static_cast<int>(
      std::max<int64_t>(1, std::min<int64_t>(options.jobs, summary.planned - summary.found)));
  std::vector<std::thread> workers;
  for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  {
    // Also when interrupted: the sessions waiting ran to their end.
    std::lock_guard<std::mutex> writing(database);
    std::unique_lock<std::mutex> lock(mutex);
    if (!pending.empty() && !failure) write(lock);
  }
  if (failure) std::rethrow_exception(failure);
  summary.interrupted = Interrupted();
  return summary;
}

}  // namespace tournament
