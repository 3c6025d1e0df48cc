// market-report's command line:
//   market-report RESULTS.json [--session N] [-o FILE]   a session's report (N: which session
//                                                        of a file with one per line, from 1)
//   market-report --db TOURNAMENT.db [--tournament ID|HASH] [-o FILE]   a tournament's report
// Without -o the page goes to standard output.
#ifndef REPORT_OPTIONS_H_
#define REPORT_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "cli/program.h"

namespace report {

inline constexpr const char* kProgram = "market-report";

struct Options {
  std::string results_path;  // a session's results JSON, or
  int session = 1;           // with results_path: which session of a one-per-line file
  std::string db_path;       // a tournament database
  std::string tournament;    // which tournament in it; empty: the last added
  std::string output_path;   // empty: standard output
};

// The options when a report should be written; otherwise --help, --version or bad usage.
using OptionsParse = cli::Parsed<Options>;

// Parses the arguments (args[0] is the program's name).
OptionsParse ParseOptions(const std::vector<std::string>& args);

}  // namespace report

#endif  // REPORT_OPTIONS_H_
