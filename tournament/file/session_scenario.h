// The scenario a session runs: a scenario file with the lineup's built-in entries as its rivals
// (in every auction) and, when agents take part, the agents' logins as its registry.
#ifndef TOURNAMENT_SESSION_SCENARIO_H_
#define TOURNAMENT_SESSION_SCENARIO_H_

#include <cstdint>
#include <optional>
#include <string>

#include "engine/scenario.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

struct SessionScenario {
  std::string text;  // TOML, as marketd reads it
  market::Scenario scenario;
  std::string hash;  // of `text`
};

struct SessionScenarioBuild {
  std::optional<SessionScenario> scenario;
  std::string error;  // one line, when scenario is empty
};

// Replaces the scenario's [[rivals]] with the lineup's built-in entries, drops every auction's
// own rival list (each lineup rival bids in every auction), and, when the lineup has agents,
// replaces the registry with their logins, admits them all (max_buyers) and waits admission_ms
// for late ones. tick_ms, when set, replaces the scenario's tick.
SessionScenarioBuild BuildSessionScenario(const std::string& scenario_text,
                                          const std::string& scenario_name, const Lineup& lineup,
                                          std::optional<int64_t> tick_ms, int64_t admission_ms);

}  // namespace tournament

#endif  // TOURNAMENT_SESSION_SCENARIO_H_
