// market-sim's command line: market-sim SCENARIO [--seed N] [--sessions K] [--results FILE].
#ifndef SIM_OPTIONS_H_
#define SIM_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/scenario.h"

namespace market::sim {

inline constexpr const char* kVersion = "market-sim 1.0";

struct Options {
  Scenario scenario;
  std::string scenario_path;
  uint64_t seed = 0;  // the first session's; the scenario's unless --seed
  int64_t sessions = 1;
  std::string results_path;  // empty: no results file
};

struct OptionsParse {
  std::optional<Options> options;  // set when the sessions should run
  std::string out;                 // --help or --version text for standard output
  std::string error;               // one line for standard error
  int exit_status = 0;             // 2 for bad usage or a bad scenario
};

// Parses the arguments (args[0] is the program's name) and loads the scenario.
OptionsParse ParseOptions(const std::vector<std::string>& args);

}  // namespace market::sim

#endif  // SIM_OPTIONS_H_
