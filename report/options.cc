#include "report/options.h"

#include <CLI/CLI.hpp>

namespace report {

OptionsParse ParseOptions(const std::vector<std::string>& args) {
  OptionsParse parse;
  CLI::App app(
      "market-report: writes one self-contained HTML page (no network access, opens from disk) "
      "from a session's results JSON or from a tournament database.",
      "market-report");
  app.set_version_flag("--version", kVersion);
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

  std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);  // CLI11 pops from the back
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    parse.out = app.help();
    return parse;
  } catch (const CLI::CallForVersion&) {
    parse.out = std::string(kVersion) + "\n";
    return parse;
  } catch (const CLI::ParseError& e) {
    parse.exit_status = 2;
    parse.error = e.what();
    return parse;
  }
  const bool session = !options.results_path.empty();
  const bool tournament = !options.db_path.empty();
  if (session == tournament) {
    parse.exit_status = 2;
    parse.error = "give either a results file or --db DATABASE (see --help)";
    return parse;
  }
  if (options.session != 1 && !session) {
    parse.exit_status = 2;
    parse.error = "--session goes with a results file";
    return parse;
  }
  if (options.session < 1) {
    parse.exit_status = 2;
    parse.error = "--session counts from 1";
    return parse;
  }
  if (session && !options.tournament.empty()) {
    parse.exit_status = 2;
    parse.error = "--tournament goes with --db";
    return parse;
  }
  parse.options = std::move(options);
  return parse;
}

}  // namespace report
