#include "tournament/file/tournament_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/scenario.h"
#include "tests/support/files.h"

namespace tournament {
namespace {

// A folder with one scenario file, so relative paths and the hash have something to read.
class TournamentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test_support::MakeTempDir();
    test_support::WriteFile(dir_ + "/s.toml", std::string(market::DefaultScenarioText()));
  }
  TournamentLoad Parse(const std::string& text) { return ParseTournament(text, dir_ + "/t.toml"); }
  std::string dir_;
};

constexpr const char* kLineups = R"(
[[lineups]]
name = "L"
  [[lineups.entries]]
  name = "Vera"
  strategy = "cautious"
  valuation = [70, 105]
  margin = 7
  [[lineups.entries]]
  name = "Zed"
  strategy = "zero_intelligence"
  [[lineups.entries]]
  agent = "buyer"
  [[lineups.entries]]
  command = ["./agent", "--fast"]
  login = "Ext"
  password = "pw"
  [[lineups.entries]]
  command = "exec ./agent 2>&1"
  login = "Ext2"
  password = "pw2"
)";

TEST_F(TournamentFileTest, ReadsEveryKindOfEntryAndPassesStrategyKeysThrough) {
  const TournamentLoad load =
      Parse(std::string("scenarios = [\"s.toml\"]\nseeds = { base = 7, count = 3 }\n") + kLineups);
  ASSERT_TRUE(load.tournament) << load.error;
  const TournamentFile& t = *load.tournament;
  EXPECT_EQ(t.scenarios, std::vector<std::string>{dir_ + "/s.toml"});
  EXPECT_EQ(t.seeds, (std::vector<uint64_t>{7, 8, 9}));
  ASSERT_EQ(t.lineups.size(), 1u);
  const std::vector<Entry>& e = t.lineups[0].entries;
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].kind, Entry::Kind::kBuiltIn);
  EXPECT_EQ(e[0].Describe(), "cautious");
  // A strategy's own keys reach the scenario as they stand.
  EXPECT_NE(e[0].rival_toml.find("margin = 7"), std::string::npos) << e[0].rival_toml;
  EXPECT_NE(e[0].rival_toml.find("name = 'Vera'"), std::string::npos) << e[0].rival_toml;
  // Any strategy of the engine, whatever the length of its name.
  EXPECT_EQ(e[1].Describe(), "zero_intelligence");
  EXPECT_EQ(e[2].kind, Entry::Kind::kBuyer);
  EXPECT_EQ(e[2].name, kBuyerLogin);
  EXPECT_EQ(e[2].password, kBuyerPassword);
  EXPECT_EQ(e[3].argv, (std::vector<std::string>{"./agent", "--fast"}));
  EXPECT_EQ(e[4].argv, (std::vector<std::string>{"/bin/sh", "-c", "exec ./agent 2>&1"}));
  EXPECT_EQ(e[4].Describe(), "exec ./agent 2>&1");
  EXPECT_EQ(t.clock, "stepped") << "the default for sessions with agent programs";
  const TournamentLoad real =
      Parse(std::string("scenarios = [\"s.toml\"]\nseeds = [1]\nclock = \"real\"\n") + kLineups);
  ASSERT_TRUE(real.tournament) << real.error;
  EXPECT_EQ(real.tournament->clock, "real");
}

TEST_F(TournamentFileTest, CommandLinesNeverShowThePassword) {
  const TournamentLoad load = Parse(
      "scenarios = [\"s.toml\"]\nseeds = [1]\n[[lineups]]\n[[lineups.entries]]\n"
      "command = \"agent --password s3cret --login P\"\nlogin = \"P\"\npassword = \"s3cret\"\n"
      "[[lineups.entries]]\ncommand = [\"agent\", \"s3cret\"]\nlogin = \"Q\"\n"
      "password = \"s3cret\"\n");
  ASSERT_TRUE(load.tournament) << load.error;
  EXPECT_EQ(load.tournament->lineups[0].entries[0].Describe(), "agent --password *** --login P");
  EXPECT_EQ(load.tournament->lineups[0].entries[1].Describe(), "agent ***");
  EXPECT_EQ(MaskPassword("aaaa", "aa"), "******");
  EXPECT_EQ(MaskPassword("x", ""), "x");
}

TEST_F(TournamentFileTest, HashFollowsTheScenarioText) {
  const std::string text = std::string("scenarios = [\"s.toml\"]\nseeds = [1, 5]\n") + kLineups;
  const std::string before = Parse(text).tournament->hash;
  EXPECT_EQ(Parse(text).tournament->hash, before);
  test_support::WriteFile(dir_ + "/s.toml", std::string(market::DefaultScenarioText()) + "\n");
  EXPECT_NE(Parse(text).tournament->hash, before);
}

TEST_F(TournamentFileTest, FaultsNameTheFileAndLine) {
  struct Case {
    std::string text;
    std::string error;  // after "DIR/t.toml:"
  };
  const std::string ok_head = "scenarios = [\"s.toml\"]\nseeds = [1]\n";
  const Case cases[] = {
      {"scenarios = [\"s.toml\"]\n", "1: missing key 'seeds'"},
      {"scenarios = [\"s.toml\"]\nseeds = [1, 1]\n" + std::string(kLineups),
       "2: seed 1 is listed twice"},
      {"scenarios = [\"s.toml\"]\nseeds = { base = 1, count = 0 }\n" + std::string(kLineups),
       "2: count"},
      {"scenarios = [\"missing.toml\"]\nseeds = [1]\n" + std::string(kLineups),
       "1: cannot read scenario"},
      {ok_head, "1: the tournament has no [[lineups]]"},
      {ok_head + "[[lineups]]\nname = \"L\"\n", "3: lineup L has no [[lineups.entries]]"},
      {ok_head + "[[lineups]]\n[[lineups.entries]]\nname = \"A\"\n",
       "4: an entry needs exactly one of"},
      {ok_head + "[[lineups]]\n[[lineups.entries]]\ncommand = \"x\"\nlogin = \"A\"\n",
       "4: missing key 'password'"},
      {ok_head + "[[lineups]]\n[[lineups.entries]]\nagent = \"buyer\"\nlogin = \"Other\"\n",
       "4: the buyer agent logs in as CLogin"},
      {ok_head + "[[lineups]]\n[[lineups.entries]]\nname=\"A\"\nstrategy=\"value\"\n"
                 "[[lineups.entries]]\nname=\"A\"\nstrategy=\"value\"\n",
       "7: name A is used twice"},
      {ok_head + "speed = 3\n[[lineups]]\n[[lineups.entries]]\nname=\"A\"\nstrategy=\"value\"\n",
       "3: unknown key 'speed'"},
      {"seeds = [1]\nx = = 2\n", "2:"},
      {ok_head + "clock = \"virtual\"\n" + std::string(kLineups), "3: clock must be"},
      {"scenarios = [\"s.toml\",\n  \"s.toml\"]\nseeds = [1]\n" + std::string(kLineups),
       "2: scenario s.toml is listed twice"},
      // What a scenario refuses of an entry is refused at the entry's own line.
      {ok_head + "[[lineups]]\n[[lineups.entries]]\nname=\"A\"\nstrategy=\"value\"\nbogus = 1\n",
       "7: unknown key 'bogus' in [[lineups.entries]]"},
      {ok_head + "[[lineups]]\n[[lineups.entries]]\nname=\"A\"\nstrategy=\"sly\"\n",
       "6: strategy must be one of \"value\""},
      {ok_head + "[[lineups]]\n[[lineups.entries]]\nname=\"A\"\nstrategy=\"value\"\n"
                 "valuation = [5, 2000]\n",
       "7: valuation"},
      // What the scenario refuses of a lineup as a whole, at the lineup's line.
      {ok_head + "[[lineups]]\nname = \"Big\"\n[[lineups.entries]]\nname=\"A\"\n"
                 "strategy=\"value\"\ncount = 200\n",
       "3: scenario s.toml with lineup Big: "},
      // A fault's text stays on its line, whatever the file holds.
      {"scenarios = [\"s\\n\\u001b[31m.toml\"]\nseeds = [1]\n" + std::string(kLineups),
       "1: cannot read scenario " + dir_ + "/s\\n\\x1b[31m.toml"},
  };
  for (const Case& c : cases) {
    const TournamentLoad load = Parse(c.text);
    ASSERT_FALSE(load.tournament) << c.text;
    const std::string prefix = dir_ + "/t.toml:";
    ASSERT_EQ(load.error.rfind(prefix, 0), 0u) << load.error;
    EXPECT_EQ(load.error.substr(prefix.size(), c.error.size()), c.error) << load.error;
    EXPECT_EQ(load.error.find('\n'), std::string::npos) << load.error;
  }
}

// Each pair of scenario and lineup is built when the file is loaded and kept while it runs: their
// number is bounded, refused at the lineup (or scenario) that passes the bound.
TEST_F(TournamentFileTest, RefusesMorePairsOfScenarioAndLineupThanTheBound) {
  std::string text = "scenarios = [\"s.toml\", \"./s.toml\"]\nseeds = [1]\n";
  const int lineups = static_cast<int>(kMaxPairs / 2) + 1;
  size_t line = 0;  // of the lineup one too many
  for (int l = 1; l <= lineups; ++l) {
    if (l == lineups) line = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    text += "[[lineups]]\nname = \"L" + std::to_string(l) +
            "\"\n[[lineups.entries]]\nname = \"A\"\nstrategy = \"value\"\n";
  }
  const TournamentLoad load = Parse(text);
  ASSERT_FALSE(load.tournament);
  const std::string expected =
      dir_ + "/t.toml:" + std::to_string(line) + ": more than 10000 pairs of scenario and lineup";
  EXPECT_EQ(load.error.substr(0, expected.size()), expected) << load.error;

  // Names that differ, of one file: one too many is refused at its line.
  std::string many = "scenarios = [\n";
  for (int64_t i = 0; i <= kMaxPairs; ++i) many += "\"x" + std::to_string(i) + "/../s.toml\",\n";
  const TournamentLoad scenarios = Parse(many + "]\nseeds = [1]\n" + kLineups);
  ASSERT_FALSE(scenarios.tournament);
  EXPECT_EQ(scenarios.error,
            dir_ + "/t.toml:" + std::to_string(kMaxPairs + 2) + ": more than 10000 scenarios");
}

}  // namespace
}  // namespace tournament
