#include "report/options.h"

namespace report {

OptionsParse ParseOptions(const std::vector<std::string>& args) {
  cli::Program program(
      kProgram,
      "market-report: writes one self-contained HTML page (no network access, opens from disk) "
      "from a session's results JSON or from a tournament database.");
  program.SetExitStatuses({
      {cli::kExitDone, "the page was written"},
      {cli::kExitFailed, "the input cannot be read or is not valid (no page written)"},
      {cli::kExitBadUsage, "bad usage"},
      {cli::kExitOutputLost, "the page could not be written"},
  });
  CLI::App& app = program.app();
  Options options;
  app.add_option("RESULTS", options.results_path,
                 "a session's results JSON (MARKET_RESULTS, marketd --results)");
  app.add_option("--session", options.session,
                 "with RESULTS: which session of a file holding one per line (market-sim "
                 "--results), counted from 1; the first if absent");
  app.add_option("--db", options.db_path, "a tournament database (tournament run --db)");
  app.add_option("--tournament", options.tournament,
                 "with --db: the tournament's id or hash; the last added if absent");
  app.add_option("-o,--output", options.output_path,
                 "write the page to this file; standard output if absent");

  if (std::optional<cli::Stop> stop = program.Parse(args)) return *stop;
  const bool session = !options.results_path.empty();
  const bool tournament = !options.db_path.empty();
  if (session == tournament) return cli::UsageFault("give either a results file or --db DATABASE");
  if (options.session != 1 && !session) {
    return cli::UsageFault("--session goes with a results file");
  }
  if (options.session < 1) return cli::UsageFault("--session counts from 1");
  if (session && !options.tournament.empty()) {
    return cli::UsageFault("--tournament goes with --db");
  }
  return options;
}

}  // namespace report
