// The runner's speed: N virtual-time sessions of the default scenario with 4 built-in bidders,
// database writes included, against the same sessions run bare (engine only, no results
// reading, no database) on as many threads as the runner has jobs. Each is run REPEATS times and
// the best time kept, as the machine is shared. Prints wall and CPU times (the whole process:
// every thread, user and system; the runner's system part too) and the runner's overhead by both.
//
// Also the database's floor: as many session rows with nothing in them, written as the runner
// writes, against which to read the runner's overhead.
//
// Usage: tournament_bench [SESSIONS] [JOBS] [REPEATS]    (defaults 10000, 2 and 3)
//        tournament_bench --print-file [SESSIONS]       prints the tournament file of SESSIONS
//                                                       sessions (bench/tournament.sh plays it)
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/scenario.h"
#include "engine/virtual_session.h"
#include "tournament/db/leaderboard.h"
#include "tournament/db/leaderboard_format.h"
#include "tournament/db/session_codec.h"
#include "tournament/db/store.h"
#include "tournament/db/totals.h"
#include "tournament/file/session_scenario.h"
#include "tournament/file/tournament_file.h"
#include "tournament/run/runner.h"

namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The process's CPU time so far, user and system; or the system part alone.
double CpuSeconds(bool system_only = false) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (system_only ? 0.0 : Seconds(usage.ru_utime)) + Seconds(usage.ru_stime);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The tournament file of `sessions` sessions: the default scenario, seeds 1 on, 4 bidders.
std::string TournamentText(long sessions) {
  return "name = \"bench\"\nscenarios = [\"default.toml\"]\nseeds = { base = 1, count = " +
         std::to_string(sessions) + R"( }
[[lineups]]
name = "four"
  [[lineups.entries]]
  name = "Vera"
  strategy = "value"
  valuation = [70, 105]
  [[lineups.entries]]
  name = "Otto"
  strategy = "value"
  valuation = [75, 100]
  [[lineups.entries]]
  name = "Cleo"
  strategy = "cautious"
  valuation = [85, 115]
  margin = 15
  [[lineups.entries]]
  name = "Rash"
  strategy = "careless"
  valuation = [120, 150]
)";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--print-file") {
    const long sessions = argc > 2 ? std::atol(argv[2]) : 10000;
    if (argc > 3 || sessions < 1) {
      std::fprintf(stderr, "usage: tournament_bench --print-file [SESSIONS]\n");
      return 2;
    }
    std::fputs(TournamentText(sessions).c_str(), stdout);
    return 0;
  }
  const long sessions = argc > 1 ? std::atol(argv[1]) : 10000;
  const int jobs = argc > 2 ? std::atoi(argv[2]) : 2;
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
  if (sessions < 1 || jobs < 1 || repeats < 1) {
    std::fprintf(stderr,
                 "usage: tournament_bench [SESSIONS] [JOBS] [REPEATS]\n"
                 "       tournament_bench --print-file [SESSIONS]\n");
    return 2;
  }
  const std::string dir = std::filesystem::temp_directory_path() / "tournament-bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string scenario_path = dir + "/default.toml";
  {
    FILE* f = std::fopen(scenario_path.c_str(), "w");
    const std::string_view text = market::DefaultScenarioText();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  const std::string text = TournamentText(sessions);
  const tournament::TournamentLoad load = tournament::ParseTournament(text, dir + "/bench.toml");
  if (!load.tournament) {
    std::fprintf(stderr, "%s\n", load.error.c_str());
    return 1;
  }
  const tournament::TournamentFile& t = *load.tournament;

  // The sessions alone, on as many threads as the runner has jobs.
  const tournament::SessionScenarioBuild build = tournament::BuildSessionScenario(
      std::string(market::DefaultScenarioText()), "default", t.lineups[0], {}, 1000);
  double bare_wall = 1e300, bare_cpu = 1e300;
  std::atomic<int64_t> goods{0};
  for (int r = 0; r < repeats; ++r) {
    std::atomic<size_t> next{0};
    auto work = [&] {
      for (size_t i = next++; i < t.seeds.size(); i = next++) {
        const market::VirtualRun run =
            market::RunVirtualSession(build.scenario->scenario, t.seeds[i]);
        goods += static_cast<int64_t>(run.results.auctions.size());
      }
    };
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    std::vector<std::thread> threads;
    for (int j = 1; j < jobs; ++j) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    bare_cpu = std::min(bare_cpu, CpuSeconds() - cpu);
    bare_wall = std::min(bare_wall, Since(start));
  }

  // The runner: the same sessions, results read and written to a new database each time, closed
  // (its last checkpoint) within the time.
  double run_wall = 1e300, run_cpu = 1e300, run_system = 0, db_bytes = 0;
  tournament::RunSummary summary;
  for (int r = 0; r < repeats; ++r) {
    const std::string db = dir + "/bench" + std::to_string(r) + ".db";
    tournament::RunOptions options;
    options.jobs = jobs;
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    const double system = CpuSeconds(true);
    {
      tournament::Store store(db, true);
      summary = tournament::RunTournament(t, store, options);
    }
    if (CpuSeconds() - cpu < run_cpu) {
      run_cpu = CpuSeconds() - cpu;
      run_system = CpuSeconds(true) - system;
    }
    run_wall = std::min(run_wall, Since(start));
    db_bytes = static_cast<double>(std::filesystem::file_size(db));  // its log checkpointed
  }

  // The leaderboard of the last run's database: as `show` reads it (its running totals), and the
  // running totals counted again from every stored session (what rereading them costs).
  double show_wall = 0, recount_wall = 0;
  {
    const std::string db = dir + "/bench" + std::to_string(repeats - 1) + ".db";
    const auto start = std::chrono::steady_clock::now();
    {
      tournament::Store reader(db, tournament::Access::kRead);
      const std::string board_text =
          tournament::LeaderboardTable(tournament::ReadLeaderboard(reader.db(), ""));
      if (board_text.empty()) return 1;
    }
    show_wall = Since(start);
    tournament::Store writer(db, true);
    const auto recount = std::chrono::steady_clock::now();
    tournament::Transaction rolled_back(writer.db());
    tournament::RecountTotals(writer.db(), summary.tournament);
    recount_wall = Since(recount);
  }

  // The database's floor: the same number of session rows, their participants and goods empty,
  // written in the runner's batches on one thread. What storing a session costs before any of
  // its content.
  std::vector<tournament::PackedSession> rows(t.seeds.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    tournament::SessionRecord& record = rows[i].record;
    record.key = {t.scenarios[0], t.seeds[i], t.lineups[0].name};
    record.position = static_cast<int64_t>(i);
    record.scenario_hash = "0123456789abcdef";
    record.outcome = "completed";
    rows[i].participants = tournament::EncodeEntries({});
    rows[i].goods = tournament::GoodsEncoder().Take();
  }
  double floor_cpu = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const std::string db = dir + "/floor" + std::to_string(r) + ".db";
    const double cpu = CpuSeconds();
    {
      tournament::Store store(db, true);
      const int64_t id = store.AddTournament(t, sessions);
      std::vector<const tournament::PackedSession*> batch;
      for (size_t i = 0; i < rows.size(); ++i) {
        batch.push_back(&rows[i]);
        if (batch.size() == 1000 || i + 1 == rows.size()) {
          store.Write(id, batch);
          batch.clear();
        }
      }
    }
    floor_cpu = std::min(floor_cpu, CpuSeconds() - cpu);
  }

  std::printf("sessions                       %ld (%lld written)\n", sessions,
              static_cast<long long>(summary.written));
  std::printf("bare sessions, %d threads       %.2f s wall, %.2f s CPU (%.1f us CPU a session)\n",
              jobs, bare_wall, bare_cpu, bare_cpu / static_cast<double>(sessions) * 1e6);
  std::printf("runner, %d jobs                 %.2f s wall, %.2f s CPU (%.1f us CPU a session)\n",
              jobs, run_wall, run_cpu, run_cpu / static_cast<double>(sessions) * 1e6);
  std::printf("  of which system                %.2f s CPU\n", run_system);
  std::printf("runner overhead                %.0f%% wall, %.0f%% CPU of the bare sessions'\n",
              (run_wall - bare_wall) / bare_wall * 100.0, (run_cpu - bare_cpu) / bare_cpu * 100.0);
  std::printf("database                       %.1f MiB (%.0f bytes a session)\n",
              db_bytes / (1024.0 * 1024.0), db_bytes / static_cast<double>(sessions));
  std::printf("show (running totals)          %.3f s wall\n", show_wall);
  std::printf("totals counted from sessions   %.3f s wall\n", recount_wall);
  std::printf(
      "database floor, empty rows     %.2f s CPU (%.1f us a session), %.0f%% of the bare "
      "sessions'\n",
      floor_cpu, floor_cpu / static_cast<double>(sessions) * 1e6, floor_cpu / bare_cpu * 100.0);
  std::filesystem::remove_all(dir);
  return goods > 0 ? 0 : 1;
}
