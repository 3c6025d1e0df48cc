#include "gateway/settings.h"

#include "wire/number.h"

namespace gateway {
namespace {

std::string Env(const EnvLookup& env, const char* name) {
  const char* value = env(name);
  return value != nullptr ? value : "";
}

}  // namespace

const char* ClockName(ClockKind kind) { return kind == ClockKind::kStepped ? "stepped" : "real"; }

std::optional<Settings> ReadSettings(const std::vector<std::string>& args, const EnvLookup& env,
                                     std::string* error) {
  if (args.size() != 2 || args[1].empty()) {
    *error =
        "expects exactly one argument, the buyer's login (settings come from MARKET_SCENARIO, "
        "MARKET_SEED, MARKET_RESULTS, MARKET_TRANSCRIPT, MARKET_CLOCK and MARKET_ADDRESS)";
    return std::nullopt;
  }
  Settings settings;
  settings.login = args[1];
  if (const std::string clock = Env(env, "MARKET_CLOCK"); clock == "stepped") {
    settings.clock = ClockKind::kStepped;
  } else if (!clock.empty() && clock != "real") {
    *error = "MARKET_CLOCK must be stepped or real, not '" + clock + "'";
    return std::nullopt;
  }
  if (const std::string address = Env(env, "MARKET_ADDRESS"); !address.empty()) {
    settings.connect = wire::ParseAddress(address);
    if (!settings.connect) {
      *error = "MARKET_ADDRESS must be HOST:PORT, not '" + address + "'";
      return std::nullopt;
    }
    return settings;
  }
  const std::string path = Env(env, "MARKET_SCENARIO");
  const market::ScenarioLoad load =
      path.empty()
          ? market::ParseScenario(market::DefaultScenarioText(), market::kDefaultScenarioName)
          : market::LoadScenarioFile(path);
  if (!load.scenario) {
    *error = "bad scenario " + load.error.ToString();
    return std::nullopt;
  }
  settings.scenario = *load.scenario;
  settings.seed = settings.scenario.seed;
  if (const std::string seed = Env(env, "MARKET_SEED"); !seed.empty()) {
    const std::optional<uint64_t> value = wire::ParseUint64(seed);
    if (!value) {
      *error =
          "MARKET_SEED must be a whole number from 0 to 18446744073709551615, not '" + seed + "'";
      return std::nullopt;
    }
    settings.seed = *value;
  }
  settings.results_path = Env(env, "MARKET_RESULTS");
  settings.transcript_path = Env(env, "MARKET_TRANSCRIPT");
  return settings;
}

}  // namespace gateway
