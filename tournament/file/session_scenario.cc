#include "tournament/file/session_scenario.h"

#include <sstream>

#include <toml++/toml.h>

namespace tournament {

SessionScenarioBuild BuildSessionScenario(const std::string& scenario_text,
                                          const std::string& scenario_name, const Lineup& lineup,
                                          std::optional<int64_t> tick_ms, int64_t admission_ms) {
  SessionScenarioBuild build;
  const std::string where = scenario_name + " with lineup " + lineup.name;
  toml::table root;
  try {
    root = toml::parse(scenario_text, scenario_name);
  } catch (const toml::parse_error& e) {
    build.error = scenario_name + ": " + std::string(e.description());
    return build;
  }
  toml::array rivals;
  toml::array registry;
  int agents = 0;
  for (const Entry& entry : lineup.entries) {
    if (entry.IsProcess()) {
      registry.push_back(toml::table{{"login", entry.name}, {"password", entry.password}});
      ++agents;
    } else {
      rivals.push_back(toml::parse(entry.rival_toml));
    }
  }
  root.insert_or_assign("rivals", std::move(rivals));
  if (toml::array* auctions = root["auctions"].as_array()) {
    for (toml::node& auction : *auctions) {
      if (toml::table* table = auction.as_table()) table->erase("rivals");
    }
  }
  if (agents > 0) {
    root.insert_or_assign("registry", std::move(registry));
    root.insert_or_assign("max_buyers", agents);
    root.insert_or_assign("min_buyers", 1);
    root.insert_or_assign("admission_window_ms", admission_ms);
  }
  if (tick_ms) root.insert_or_assign("tick_ms", *tick_ms);
  std::ostringstream out;
  out << toml::toml_formatter(root) << '\n';
  SessionScenario session;
  session.text = out.str();
  market::ScenarioLoad load = market::ParseScenario(session.text, where);
  if (!load.scenario) {
    build.error = where + ": " + load.error.fault;
    return build;
  }
  session.scenario = std::move(*load.scenario);
  session.hash = HashText(session.text);
  build.scenario = std::move(session);
  return build;
}

}  // namespace tournament
