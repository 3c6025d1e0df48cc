#include "sim/options.h"

#include <charconv>

#include <CLI/CLI.hpp>

namespace market::sim {
namespace {

// A whole number from 0 to 2^64 - 1, digits only.
std::optional<uint64_t> ParseSeed(const std::string& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

OptionsParse ParseOptions(const std::vector<std::string>& args) {
  OptionsParse parse;
  CLI::App app(
      "market-sim: runs market sessions of built-in bidders on virtual time, as fast as the CPU "
      "allows. One session: its summary on standard output. Several: seeds N .. N+K-1 and the "
      "figures over all of them.",
      "market-sim");
  app.set_version_flag("--version", kVersion);
  Options options;
  std::string seed;
  app.add_option("SCENARIO", options.scenario_path, "the scenario file (TOML)")->required();
  app.add_option("--seed", seed,
                 "the first session's seed (0 to 2^64 - 1); the scenario's if absent");
  app.add_option("--sessions", options.sessions, "how many sessions to run, one seed each")
      ->check(CLI::Range(int64_t{1}, int64_t{100'000'000}))
      ->capture_default_str();
  app.add_option("--results", options.results_path,
                 "write each session's results here as JSON, one object per line");

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
  const ScenarioLoad load = LoadScenarioFile(options.scenario_path);
  if (!load.scenario) {
    parse.exit_status = 2;
    parse.error = "bad scenario " + load.error.ToString();
    return parse;
  }
  options.scenario = *load.scenario;
  options.seed = options.scenario.seed;
  if (app.count("--seed") > 0) {
    const std::optional<uint64_t> value = ParseSeed(seed);
    if (!value) {
      parse.exit_status = 2;
      parse.error = "--seed must be a whole number from 0 to 18446744073709551615";
      return parse;
    }
    options.seed = *value;
  }
  parse.options = std::move(options);
  return parse;
}

}  // namespace market::sim
