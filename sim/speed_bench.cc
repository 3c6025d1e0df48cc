// Speed of the instrument: virtual sessions per second on one core, for the default scenario
// and for a large one (one auction of 200 goods and 100 buyers), each run for at least the given
// seconds. Usage: market_sim_bench [LARGE_SCENARIO] [--seconds S]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/scenario.h"
#include "engine/virtual_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs sessions of the scenario (seeds 1, 2, ...) until `seconds` have passed; prints the rate.
void Measure(const char* label, const market::Scenario& scenario, double seconds) {
  int64_t sessions = 0;
  int64_t goods = 0;
  const Clock::time_point start = Clock::now();
  double elapsed = 0;
  while (elapsed < seconds) {
    for (int i = 0; i < 10; ++i) {
      const market::Results r =
          market::RunVirtualSession(scenario, static_cast<uint64_t>(++sessions)).results;
      for (const market::AuctionResult& a : r.auctions)
        goods += static_cast<int64_t>(a.goods.size());
    }
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::printf("%-28s %8lld sessions in %.2f s: %10.0f sessions/s, %10.0f goods/s\n", label,
              static_cast<long long>(sessions), elapsed, static_cast<double>(sessions) / elapsed,
              static_cast<double>(goods) / elapsed);
}

}  // namespace

int main(int argc, char** argv) {
  std::string large_path;
  double seconds = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && large_path.empty()) {
      large_path = arg;
    } else {
      std::fprintf(stderr, "usage: market_sim_bench [LARGE_SCENARIO] [--seconds S]\n");
      return 2;
    }
  }
  const market::ScenarioLoad builtin =
      market::ParseScenario(market::DefaultScenarioText(), market::kDefaultScenarioName);
  if (!builtin.scenario) return 1;
  Measure("default scenario", *builtin.scenario, seconds);
  if (!large_path.empty()) {
    const market::ScenarioLoad large = market::LoadScenarioFile(large_path);
    if (!large.scenario) {
      std::fprintf(stderr, "market_sim_bench: bad scenario %s\n", large.error.ToString().c_str());
      return 2;
    }
    Measure("100 buyers x 200 goods", *large.scenario, seconds);
  }
  return 0;
}
