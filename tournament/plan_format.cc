#include "tournament/plan_format.h"

#include <vector>

#include <nlohmann/json.hpp>

#include "engine/text_table.h"
#include "tournament/shard.h"

namespace tournament {
namespace {

std::string Describe(const SessionKey& key) {
  return key.scenario + " seed " + std::to_string(key.seed) + " " + key.lineup;
}

// The sessions of each shard, in the canonical order.
std::vector<std::vector<SessionKey>> Split(const TournamentFile& t, int64_t shards) {
  std::vector<std::vector<SessionKey>> split(static_cast<size_t>(shards));
  const std::vector<PlannedSession> plan = PlanSessions(t);
  for (size_t i = 0; i < plan.size(); ++i) {
    split[i % static_cast<size_t>(shards)].push_back(plan[i].key);
  }
  return split;
}

}  // namespace

std::string PlanTable(const TournamentFile& t, int64_t shards) {
  const auto split = Split(t, shards);
  size_t total = 0;
  for (const auto& keys : split) total += keys.size();
  std::string out = "Tournament " + t.name + " (" + t.hash + "): " + std::to_string(total) +
                    " sessions in " + std::to_string(shards) +
                    " shards; session i (scenarios, then seeds, then lineups, as listed) goes "
                    "to shard i mod " +
                    std::to_string(shards) + "\n";
  market::TextTable table({"shard", "sessions", "first", "last"}, {true, true, false, false});
  for (size_t k = 0; k < split.size(); ++k) {
    const auto& keys = split[k];
    table.Add({std::to_string(k), std::to_string(keys.size()),
               keys.empty() ? "-" : Describe(keys.front()),
               keys.empty() ? "-" : Describe(keys.back())});
  }
  return out + table.Render("  ");
}

std::string PlanJson(const TournamentFile& t, int64_t shards) {
  const auto split = Split(t, shards);
  nlohmann::json out;
  out["name"] = t.name;
  out["hash"] = t.hash;
  out["rule"] = "session i in the order scenarios, seeds, lineups goes to shard i mod shards";
  out["shards"] = nlohmann::json::array();
  size_t total = 0;
  for (size_t k = 0; k < split.size(); ++k) {
    nlohmann::json sessions = nlohmann::json::array();
    for (const SessionKey& key : split[k]) {
      sessions.push_back({{"scenario", key.scenario}, {"seed", key.seed}, {"lineup", key.lineup}});
    }
    total += split[k].size();
    out["shards"].push_back(
        {{"shard", k}, {"count", split[k].size()}, {"sessions", std::move(sessions)}});
  }
  out["sessions"] = total;
  return out.dump(2) + "\n";
}

}  // namespace tournament
