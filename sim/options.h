// market-sim's command line: market-sim SCENARIO [--seed N] [--sessions K] [--results FILE].
#ifndef SIM_OPTIONS_H_
#define SIM_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/program.h"
#include "engine/scenario.h"

namespace market::sim {

inline constexpr const char* kProgram = "market-sim";

struct Options {
  Scenario scenario;
  std::string scenario_path;
  uint64_t seed = 0;  // the first session's; the scenario's unless --seed
  int64_t sessions = 1;
  std::string results_path;  // empty: no results file
};

// The options when the sessions should run; otherwise --help, --version or bad usage (a bad
// scenario or seed among it).
using OptionsParse = cli::Parsed<Options>;

// Parses the arguments (args[0] is the program's name) and loads the scenario.
OptionsParse ParseOptions(const std::vector<std::string>& args);

}  // namespace market::sim

#endif  // SIM_OPTIONS_H_
