// The runner's speed: N virtual-time sessions of the default scenario with 4 built-in bidders,
// database writes included, against the same sessions run bare (engine only, no results
// reading, no database). Prints wall and CPU times and the runner's overhead.
//
// Usage: tournament_bench [SESSIONS] [JOBS]    (defaults 10000 and 2)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/scenario.h"
#include "tournament/runner.h"
#include "tournament/session_scenario.h"
#include "tournament/store.h"
#include "tournament/tournament_file.h"
#include "tournament/virtual_session.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long sessions = argc > 1 ? std::atol(argv[1]) : 10000;
  const int jobs = argc > 2 ? std::atoi(argv[2]) : 2;
  if (sessions < 1 || jobs < 1) {
    std::fprintf(stderr, "usage: tournament_bench [SESSIONS] [JOBS]\n");
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
  const std::string text =
      "name = \"bench\"\nscenarios = [\"default.toml\"]\nseeds = { base = 1, "
      "count = " +
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
  const tournament::TournamentLoad load = tournament::ParseTournament(text, dir + "/bench.toml");
  if (!load.tournament) {
    std::fprintf(stderr, "%s\n", load.error.c_str());
    return 1;
  }
  const tournament::TournamentFile& t = *load.tournament;

  // The sessions alone, on one thread.
  const tournament::SessionScenarioBuild build = tournament::BuildSessionScenario(
      std::string(market::DefaultScenarioText()), "default", t.lineups[0], {}, 1000);
  auto start = std::chrono::steady_clock::now();
  double cpu = CpuSeconds();
  int64_t goods = 0;
  for (uint64_t seed : t.seeds) {
    const tournament::VirtualRun run =
        tournament::RunVirtualSession(build.scenario->scenario, seed);
    goods += static_cast<int64_t>(run.results.auctions.size());
  }
  const double bare_cpu = CpuSeconds() - cpu;
  const double bare_wall = Since(start);

  // The runner: the same sessions, results read and written to the database.
  tournament::Store store(dir + "/bench.db", true);
  tournament::RunOptions options;
  options.jobs = jobs;
  start = std::chrono::steady_clock::now();
  cpu = CpuSeconds();
  const tournament::RunSummary summary = tournament::RunTournament(t, store, options);
  const double run_cpu = CpuSeconds() - cpu;
  const double run_wall = Since(start);
  const double db_bytes = static_cast<double>(std::filesystem::file_size(dir + "/bench.db") +
                                              std::filesystem::file_size(dir + "/bench.db-wal"));

  std::printf("sessions                       %ld (%lld written)\n", sessions,
              static_cast<long long>(summary.written));
  std::printf("bare sessions, 1 thread        %.2f s wall, %.2f s CPU (%.0f us per session)\n",
              bare_wall, bare_cpu, bare_cpu / static_cast<double>(sessions) * 1e6);
  std::printf("runner, %d jobs                 %.2f s wall, %.2f s CPU\n", jobs, run_wall, run_cpu);
  std::printf("runner overhead (CPU)          %.0f%% of the sessions' own\n",
              (run_cpu - bare_cpu) / bare_cpu * 100.0);
  std::printf("database                       %.1f MiB\n", db_bytes / (1024.0 * 1024.0));
  std::filesystem::remove_all(dir);
  return goods > 0 ? 0 : 1;
}
