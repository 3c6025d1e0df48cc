#include "tests/support/lineup.h"

#include <gtest/gtest.h>

#include "engine/scenario.h"
#include "tests/support/files.h"

namespace test_support {

tournament::Lineup LoadLineup(const std::string& entries) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", std::string(market::DefaultScenarioText()));
  const tournament::TournamentLoad load = tournament::ParseTournament(
      "scenarios = [\"s.toml\"]\nseeds = [1]\n[[lineups]]\nname = \"L\"\n" + entries,
      dir + "/t.toml");
  EXPECT_TRUE(load.tournament) << load.error;
  return load.tournament ? load.tournament->lineups[0] : tournament::Lineup{};
}

}  // namespace test_support
