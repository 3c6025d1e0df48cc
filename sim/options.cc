#include "sim/options.h"

#include "wire/number.h"

namespace market::sim {

OptionsParse ParseOptions(const std::vector<std::string>& args) {
  cli::Program program(
      kProgram,
      "market-sim: runs market sessions of built-in bidders on virtual time, as fast as the CPU "
      "allows. One session: its summary on standard output. Several: seeds N .. N+K-1 and the "
      "figures over all of them.");
  program.SetExitStatuses({
      {cli::kExitDone, "every session ran"},
      {cli::kExitBadUsage, "bad usage, a bad scenario or a results file that cannot be created"},
      {cli::kExitOutputLost, "the results could not all be written"},
  });
  CLI::App& app = program.app();
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

  if (std::optional<cli::Stop> stop = program.Parse(args)) return *stop;
  const ScenarioLoad load = LoadScenarioFile(options.scenario_path);
  if (!load.scenario) return cli::UsageFault("bad scenario " + load.error.ToString());
  options.scenario = *load.scenario;
  options.seed = options.scenario.seed;
  if (app.count("--seed") > 0) {
    const std::optional<uint64_t> value = wire::ParseUint64(seed);
    if (!value)
      return cli::UsageFault("--seed must be a whole number from 0 to 18446744073709551615");
    options.seed = *value;
  }
  return options;
}

}  // namespace market::sim
