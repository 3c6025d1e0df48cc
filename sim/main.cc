// market-sim SCENARIO [--seed N] [--sessions K] [--results FILE]
//
// Exit status (listed in --help, numbered by cli/exit_status.h): 0 when every session ran; 2 for
// bad usage, a bad scenario or a results file that cannot be created (one line on standard error);
// 3 when the results could not all be written.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/exit_status.h"
#include "cli/program.h"
#include "engine/results_json.h"
#include "engine/summary.h"
#include "engine/virtual_session.h"
#include "sim/batch.h"
#include "sim/options.h"

int main(int argc, char** argv) {
  using namespace market::sim;
  const OptionsParse parse = ParseOptions(std::vector<std::string>(argv, argv + argc));
  if (!parse.options) return cli::Finish(kProgram, parse);
  const Options& options = *parse.options;
  std::ofstream results;
  if (!options.results_path.empty()) {
    results.open(options.results_path, std::ios::binary | std::ios::trunc);
    if (!results) {
      std::cerr << "market-sim: cannot create " << options.results_path << ": "
                << std::strerror(errno) << "\n";
      return cli::kExitBadUsage;
    }
  }
  Batch batch;
  const auto start = std::chrono::steady_clock::now();
  for (int64_t i = 0; i < options.sessions; ++i) {
    const uint64_t seed = options.seed + static_cast<uint64_t>(i);  // wraps past 2^64 - 1
    const market::Results session = market::RunVirtualSession(options.scenario, seed).results;
    if (results.is_open()) {
      market::WriteResultsJsonLine(session, [&](std::string_view piece) {
        results.write(piece.data(), static_cast<std::streamsize>(piece.size()));
      });
    }
    if (options.sessions == 1) std::cout << market::SummaryText(session);
    batch.Add(session);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (options.sessions > 1) {
    std::cout << options.sessions << " sessions of " << options.scenario_path << ", seeds "
              << options.seed << " .. "
              << options.seed + static_cast<uint64_t>(options.sessions - 1) << "\n"
              << batch.Text();
    char rate[96];
    std::snprintf(rate, sizeof rate, "%.3f s, %.0f sessions per second\n", seconds,
                  static_cast<double>(options.sessions) / std::max(seconds, 1e-9));
    std::cout << rate;
  }
  if (results.is_open()) {
    results.close();
    if (!results) {
      std::cerr << "market-sim: could not write " << options.results_path << "\n";
      return cli::kExitOutputLost;
    }
  }
  return cli::kExitDone;
}
