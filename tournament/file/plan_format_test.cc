#include "tournament/file/plan_format.h"

#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "tournament/file/shard.h"

namespace tournament {
namespace {

TournamentFile Small() {
  TournamentFile t;
  t.name = "small \"one\"";
  t.hash = "abc";
  t.scenarios = {"/x/a.toml", "/x/b.toml"};
  t.scenario_names = {"a.toml", "b\x1b.toml"};
  t.seeds = {9, 2, 5};
  t.lineups.resize(2);
  t.lineups[0].name = "L1";
  t.lineups[1].name = "L0";
  return t;
}

// The plan as a document built whole: what the streamed JSON must read as, byte for byte.
std::string WholeDocument(const TournamentFile& t, int64_t shards) {
  std::vector<nlohmann::json> split(static_cast<size_t>(shards), nlohmann::json::array());
  int64_t position = 0;
  for (size_t s = 0; s < t.scenarios.size(); ++s) {
    for (uint64_t seed : t.seeds) {
      for (const Lineup& lineup : t.lineups) {
        split[static_cast<size_t>(position++ % shards)].push_back(
            {{"scenario", t.scenario_names[s]}, {"seed", seed}, {"lineup", lineup.name}});
      }
    }
  }
  nlohmann::json out;
  out["name"] = t.name;
  out["hash"] = t.hash;
  out["rule"] = "session i in the order scenarios, seeds, lineups goes to shard i mod shards";
  out["shards"] = nlohmann::json::array();
  for (size_t k = 0; k < split.size(); ++k) {
    out["shards"].push_back({{"shard", k}, {"count", split[k].size()}, {"sessions", split[k]}});
  }
  out["sessions"] = position;
  return out.dump(2) + "\n";
}

TEST(PlanFormat, StreamedJsonIsTheWholeDocument) {
  const TournamentFile t = Small();
  for (int64_t shards : {1, 4, 12, 25}) {
    std::ostringstream out;
    WritePlanJson(out, t, shards);
    EXPECT_EQ(out.str(), WholeDocument(t, shards)) << shards;
  }
}

TEST(PlanFormat, TableNamesEachShardsFirstAndLastSession) {
  const std::string table = PlanTable(Small(), 5);
  EXPECT_NE(table.find("12 sessions in 5 shards"), std::string::npos) << table;
  // Shard 1 holds positions 1, 6, 11; shard 4 positions 4 and 9. Names are shown escaped.
  EXPECT_NE(table.find("\n      1         3  a.toml seed 9 L0  b\\x1b.toml seed 5 L0\n"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("\n      4         2  a.toml seed 5 L1  b\\x1b.toml seed 2 L0\n"),
            std::string::npos)
      << table;
  EXPECT_NE(PlanTable(Small(), 13).find("\n     12         0  -"), std::string::npos);
}

}  // namespace
}  // namespace tournament
