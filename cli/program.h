// One program's command line on CLI11, set up the same way for every program of the project:
// - --help prints the help on standard output and exits 0; the help ends with the program's exit
//   statuses (SetExitStatuses), so a manual page made from it lists them too;
// - --version prints "PROGRAM VERSION" (the project's version, cli/version.h) and exits 0;
// - bad usage is one line on standard error, "PROGRAM: MESSAGE (see PROGRAM --help)", exit 2.
// A program adds its options and subcommands to app(), calls Parse, and hands a Stop to Finish:
//
//   cli::Program program("market-sim", "runs market sessions ...");
//   program.app().add_option("SCENARIO", path, "the scenario file")->required();
//   if (std::optional<cli::Stop> stop = program.Parse(argc, argv)) {
//     return cli::Finish("market-sim", *stop);
//   }
#ifndef CLI_PROGRAM_H_
#define CLI_PROGRAM_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"

namespace cli {

// Why a program stops before it runs: --help or --version, or bad usage.
struct Stop {
  int exit_status = kExitDone;  // kExitDone after --help or --version; kExitBadUsage on a fault
  std::string out;              // for standard output: the help or the version
  std::string error;  // for standard error: the fault, one line, without the program's name
};

// Bad usage found once the arguments are parsed (options that do not go together, a value CLI11
// cannot check, a scenario that does not load).
Stop UsageFault(std::string message);

// What a program's own option parser returns: the options when it should run, or why it stops.
// Converts from either, so a parser returns a Stop or its Options as they come.
template <typename Options>
struct Parsed : Stop {
  std::optional<Options> options;  // set when the program should run with these

  Parsed() = default;
  Parsed(Stop stop) : Stop(std::move(stop)) {}            // NOLINT: implicit on purpose
  Parsed(Options parsed) : options(std::move(parsed)) {}  // NOLINT: implicit on purpose
};

// One program's CLI11 application with the project's --help, --version and usage faults.
class Program {
 public:
  // NAME is what the program prints before its messages and in "--version"; DESCRIPTION heads the
  // help.
  Program(std::string name, std::string description);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Where the program adds its options, flags and subcommands.
  CLI::App& app() { return app_; }
  const std::string& name() const { return name_; }

  // The help's closing "Exit status:" section: one row per status the program uses, in its own
  // words ("the market closed"), wrapped at 79 columns.
  void SetExitStatuses(const std::vector<std::pair<int, std::string>>& rows);

  // Parses the arguments, the program's name first (which is not used: messages carry NAME).
  // nullopt when the program should run with what its options were bound to; otherwise why not.
  // Never throws for anything on the command line.
  std::optional<Stop> Parse(const std::vector<std::string>& args);
  std::optional<Stop> Parse(int argc, const char* const* argv);

 private:
  std::string name_;
  CLI::App app_;
};

// "PROGRAM: MESSAGE (see PROGRAM --help)" without a newline; line breaks in MESSAGE become spaces.
std::string UsageLine(std::string_view program, std::string_view message);

// Writes what the stop has to say, the help or version to OUT_FD and a fault's usage line to
// ERR_FD, and returns its exit status: the stop's own, or kExitOutputLost (with one line on
// ERR_FD) when the help or version could not be written whole.
int Finish(std::string_view program, const Stop& stop, int out_fd = 1, int err_fd = 2);

}  // namespace cli

#endif  // CLI_PROGRAM_H_
