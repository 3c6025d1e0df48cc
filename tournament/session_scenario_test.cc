#include "tournament/session_scenario.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/results_json.h"
#include "tests/support/files.h"
#include "tournament/results_reader.h"
#include "tournament/virtual_session.h"

namespace tournament {
namespace {

Lineup LoadLineup(const std::string& entries) {
  const std::string dir = testfiles::MakeTempDir();
  testfiles::WriteFile(dir + "/s.toml", "");
  const TournamentLoad load = ParseTournament(
      "scenarios = [\"s.toml\"]\nseeds = [1]\n[[lineups]]\nname = \"L\"\n" + entries,
      dir + "/t.toml");
  EXPECT_TRUE(load.tournament) << load.error;
  return load.tournament ? load.tournament->lineups[0] : Lineup{};
}

const char* kRivals = R"(
[[lineups.entries]]
name = "Ana"
strategy = "value"
valuation = [90, 95]
[[lineups.entries]]
name = "Bo"
strategy = "cautious"
valuation = [100, 120]
margin = 5
)";

TEST(SessionScenario, LineupRivalsReplaceTheScenariosInEveryAuction) {
  const Lineup lineup = LoadLineup(kRivals);
  const SessionScenarioBuild build =
      BuildSessionScenario(std::string(market::DefaultScenarioText()), "default", lineup, 3, 1000);
  ASSERT_TRUE(build.scenario) << build.error;
  const market::Scenario& s = build.scenario->scenario;
  EXPECT_EQ(s.tick_ms, 3);
  ASSERT_EQ(s.rivals.size(), 2u);
  EXPECT_EQ(s.rivals[1].strategy, market::Strategy::kCautious);
  EXPECT_EQ(s.rivals[1].margin, 5);
  EXPECT_EQ(s.registry.size(), 1u);  // the scenario's own: no agent in the lineup
  // Every auction of the session is played by exactly the lineup's rivals.
  const VirtualRun run = RunVirtualSession(s, 11);
  ASSERT_TRUE(run.results.completed);
  ASSERT_EQ(run.results.auctions.size(), 3u);
  for (const market::AuctionResult& a : run.results.auctions) {
    std::set<std::string> names;
    for (const market::BuyerResult& b : a.buyers) names.insert(b.name);
    EXPECT_EQ(names, (std::set<std::string>{"Ana", "Bo"}));
  }
  EXPECT_GT(run.duration_us, 0);
}

TEST(SessionScenario, AgentsBecomeTheRegistryAndAreAllAdmitted) {
  const Lineup lineup = LoadLineup(std::string(kRivals) + R"(
[[lineups.entries]]
agent = "buyer"
[[lineups.entries]]
command = "true"
login = "Ext"
password = "secret"
)");
  const SessionScenarioBuild build = BuildSessionScenario(
      std::string(market::DefaultScenarioText()), "default", lineup, std::nullopt, 1500);
  ASSERT_TRUE(build.scenario) << build.error;
  const market::Scenario& s = build.scenario->scenario;
  ASSERT_EQ(s.registry.size(), 2u);
  EXPECT_EQ(s.registry[0].login, "CLogin");
  EXPECT_EQ(s.registry[1].login, "Ext");
  EXPECT_EQ(s.registry[1].password, "secret");
  EXPECT_EQ(s.max_buyers, 2);
  EXPECT_EQ(s.admission_window_ms, 1500);
  EXPECT_EQ(s.tick_ms, 40);  // the scenario's own
  // What marketd reads is the same scenario.
  const market::ScenarioLoad again = market::ParseScenario(build.scenario->text, "again");
  ASSERT_TRUE(again.scenario);
  EXPECT_EQ(again.scenario->registry.size(), 2u);
}

TEST(SessionScenario, AStrategyTheMarketRefusesIsOneLineNamingTheLineup) {
  const Lineup lineup = LoadLineup("[[lineups.entries]]\nname = \"X\"\nstrategy = \"psychic\"\n");
  const SessionScenarioBuild build =
      BuildSessionScenario(std::string(market::DefaultScenarioText()), "default", lineup, {}, 1);
  ASSERT_FALSE(build.scenario);
  EXPECT_NE(build.error.find("default with lineup L"), std::string::npos) << build.error;
  EXPECT_NE(build.error.find("strategy must be"), std::string::npos) << build.error;
}

TEST(ResultsReader, SumsEachEntrysAccountsOverTheAuctions) {
  const Lineup lineup = LoadLineup(kRivals);
  const SessionScenarioBuild build =
      BuildSessionScenario(std::string(market::DefaultScenarioText()), "default", lineup, {}, 1);
  ASSERT_TRUE(build.scenario);
  const VirtualRun run = RunVirtualSession(build.scenario->scenario, 5);
  SessionRecord record;
  ASSERT_EQ(ReadResults(market::ResultsJson(run.results), lineup, record), "");
  EXPECT_EQ(record.outcome, "completed");
  ASSERT_EQ(record.participants.size(), 2u);
  int64_t revenue = 0;
  for (size_t p = 0; p < 2; ++p) {
    int64_t spend = 0, benefit = 0, fines = 0;
    for (const market::AuctionResult& a : run.results.auctions) {
      for (const market::BuyerResult& b : a.buyers) {
        if (b.name != record.participants[p].name) continue;
        spend += b.spend;
        benefit += b.benefit;
        fines += b.fines;
      }
    }
    EXPECT_EQ(record.participants[p].spend, spend);
    EXPECT_EQ(record.participants[p].surplus, benefit - fines);
    revenue += spend;
  }
  EXPECT_EQ(record.revenue, revenue);
  size_t goods = 0;
  for (const market::AuctionResult& a : run.results.auctions) goods += a.goods.size();
  EXPECT_EQ(record.goods.size(), goods);
}

TEST(ResultsReader, ADocumentThatIsNotResultsFailsTheSession) {
  const Lineup lineup = LoadLineup(kRivals);
  for (const char* text : {"", "{}", "[1]", "{\"auctions\": 3}"}) {
    SessionRecord record;
    EXPECT_NE(ReadResults(text, lineup, record), "") << text;
    EXPECT_EQ(record.outcome, "failed");
    EXPECT_EQ(record.participants.size(), 2u);
  }
}

TEST(ResultsReader, GroupMembersBelongToTheirEntry) {
  struct Case {
    const char* buyer;
    const char* entry;
    bool belongs;
  };
  const Case cases[] = {{"Vera", "Vera", true},   {"Vera3", "Vera", true},
                        {"Vera12", "Vera", true}, {"Veras", "Vera", false},
                        {"Ver", "Vera", false},   {"Vera0", "Vera", false}};
  for (const Case& c : cases) EXPECT_EQ(BelongsTo(c.buyer, c.entry), c.belongs) << c.buyer;
}

}  // namespace
}  // namespace tournament
