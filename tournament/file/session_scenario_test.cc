#include "tournament/file/session_scenario.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

#include "engine/measures.h"
#include "engine/results_json.h"
#include "engine/scenario.h"
#include "engine/virtual_session.h"
#include "tests/support/lineup.h"
#include "tournament/db/results_reader.h"

namespace tournament {
namespace {

using test_support::LoadLineup;

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
  const market::VirtualRun run = market::RunVirtualSession(s, 11);
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
  // Loading refuses such an entry; the builder still answers one line for a lineup made by hand.
  Entry entry;
  entry.name = "X";
  entry.rival_toml = "name = \"X\"\nstrategy = \"psychic\"\n";
  Lineup lineup;
  lineup.name = "L";
  lineup.entries.push_back(entry);
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
  const market::VirtualRun run = market::RunVirtualSession(build.scenario->scenario, 5);
  SessionRecord record;
  ASSERT_EQ(ReadResults(market::ResultsJson(run.results), lineup, record), "");
  EXPECT_EQ(record.outcome, "completed");
  ASSERT_EQ(record.participants.size(), 2u);
  int64_t revenue = 0;
  const market::SessionMeasures measures = market::MeasureSession(run.results);
  for (size_t p = 0; p < 2; ++p) {
    int64_t spend = 0;
    for (const market::AuctionResult& a : run.results.auctions) {
      for (const market::BuyerResult& b : a.buyers) {
        if (b.name != record.participants[p].name) continue;
        spend += b.spend;
      }
    }
    EXPECT_EQ(record.participants[p].spend, spend);
    // Read back from the JSON, the surplus is the market's own measure of it.
    EXPECT_EQ(record.participants[p].surplus, measures.surplus.at(record.participants[p].name));
    revenue += spend;
  }
  EXPECT_EQ(record.revenue, revenue);
  size_t goods = 0;
  for (const market::AuctionResult& a : run.results.auctions) goods += a.goods.size();
  EXPECT_EQ(record.goods.size(), goods);
}

// The market's session measures and every good's values per buyer, read from the results or from
// their JSON document alike, as the engine has them.
TEST(ResultsReader, KeepsTheMeasuresAndEachBuyersValueInEitherForm) {
  const Lineup lineup = LoadLineup(kRivals);
  const SessionScenarioBuild build =
      BuildSessionScenario(std::string(market::DefaultScenarioText()), "default", lineup, {}, 1);
  ASSERT_TRUE(build.scenario);
  const market::VirtualRun run = market::RunVirtualSession(build.scenario->scenario, 7);
  const market::MarketMeasures expected = market::MeasureSession(run.results).market;
  ASSERT_TRUE(expected.efficiency() && expected.top_value_share() && expected.price_over_top());
  SessionRecord direct, parsed;
  ReadResults(run.results, lineup, direct);
  ASSERT_EQ(ReadResults(market::ResultsJson(run.results), lineup, parsed), "");
  for (const SessionRecord* r : {&direct, &parsed}) {
    ASSERT_TRUE(r->efficiency && r->top_value_share && r->price_over_top);
    EXPECT_DOUBLE_EQ(*r->efficiency, *expected.efficiency());
    EXPECT_DOUBLE_EQ(*r->top_value_share, *expected.top_value_share());
    EXPECT_DOUBLE_EQ(*r->price_over_top, *expected.price_over_top());
    size_t i = 0;
    for (const market::AuctionResult& a : run.results.auctions) {
      for (const market::GoodResult& g : a.goods) {
        ASSERT_LT(i, r->goods.size());
        const auto& values = r->goods[i++].values;
        ASSERT_EQ(values.size(), g.values.size()) << g.good.id;
        for (size_t v = 0; v < values.size(); ++v) {
          EXPECT_EQ(values[v].first, a.buyers[g.values[v].buyer].name);
          EXPECT_EQ(values[v].second, g.values[v].value);
        }
      }
    }
    EXPECT_EQ(i, r->goods.size());
  }
  // Re-read into a used record, a document without results leaves no measure behind.
  EXPECT_NE(ReadResults("{}", lineup, direct), "");
  EXPECT_FALSE(direct.efficiency || direct.top_value_share || direct.price_over_top);
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

namespace tournament {
namespace {

// Every field of a record on one line each, to compare two records whole.
std::string Render(const SessionRecord& r) {
  std::string out = r.outcome + "|" + r.detail + "|" + std::to_string(r.revenue) + "\n";
  for (const GoodRow& g : r.goods) {
    out += std::to_string(g.auction) + g.id + g.kind + g.seller + std::to_string(g.round) + "|" +
           std::to_string(g.initial) + "|" + std::to_string(g.resale) + "|" +
           std::to_string(g.reserve) + g.outcome + g.buyer.value_or("-") + "|" +
           std::to_string(g.price.value_or(-1)) + "|" + std::to_string(g.collisions) +
           std::to_string(g.sanctions) + "\n";
  }
  for (const ParticipantRow& p : r.participants) {
    out += p.name + p.kind + p.strategy + "|" + std::to_string(p.purchases) + "|" +
           std::to_string(p.spend) + "|" + std::to_string(p.benefit) + "|" +
           std::to_string(p.fines) + "|" + std::to_string(p.surplus) + "|" +
           std::to_string(p.sanctions) + std::to_string(p.expulsions) + (p.logged_in ? "L" : "") +
           std::to_string(p.bids) + "|" + std::to_string(p.faults) + (p.left ? "left" : "") +
           p.dropped + std::to_string(p.response_count) + "|" +
           std::to_string(p.response_median_us.value_or(-1)) + "|" +
           std::to_string(p.response_p99_us.value_or(-1)) + "|" +
           std::to_string(p.late_ticks.value_or(-1)) + "\n";
  }
  for (const BidRow& b : r.bids) {
    out += std::to_string(b.auction) + b.good + std::to_string(b.price) + b.buyer + "|" +
           std::to_string(b.at_us) + "|" + std::to_string(b.response_us) + "\n";
  }
  return out;
}

TEST(ResultsReader, TheJsonDocumentGivesTheSameRecordAsTheResults) {
  const Lineup lineup = LoadLineup(std::string(kRivals) +
                                   "[[lineups.entries]]\nagent = \"buyer\"\n"
                                   "[[lineups.entries]]\ncommand = \"x\"\nlogin = \"Never\"\n"
                                   "password = \"pw\"\n");
  market::Results results;
  results.seed = 4;
  results.completed = false;
  results.ended_early = "every buyer left";
  market::AuctionResult auction;
  auction.number = 2;
  market::GoodResult sold;
  sold.good = {"w\xff", "wine", "Ana", 2000, 1800, 900, 1};
  sold.outcome = market::Outcome::kSold;
  sold.buyer = "CLogin";
  sold.price = 1500;
  sold.collisions = 2;
  sold.values = {{1, 1700}, {2, 900}, {0, 1800}};  // Ana, Bo2, CLogin
  market::GoodResult pending;
  pending.good = {"oil", "oil", "Ben", 1000, 800, 500, 2};
  auction.goods = {sold, pending};
  auction.buyers = {{"CLogin", true, 1, 1500, 300, 1, 600, true, false, "agent"},
                    {"Ana", false, 0, 0, 0, 0, 0, false, false, "truthful"},
                    {"Bo2", false, 0, 0, 0, 2, 1200, false, false, "careless"}};
  results.auctions = {auction, auction};
  results.participants = {{"CLogin", 7, 1, true, "too many faults"}};
  results.clock = "stepped";
  results.participants[0].late_ticks = 3;
  results.bids = {{2, "w", 1500, "CLogin", 10, 400, true},
                  {2, "w", 1500, "CLogin", 11, 900, true},
                  {2, "w", 1400, "CLogin", 30, 100, true}};
  SessionRecord direct;
  ReadResults(results, lineup, direct);
  SessionRecord via_json;
  ASSERT_EQ(ReadResults(market::ResultsJson(results), lineup, via_json), "");
  // The good id that is not UTF-8 comes back from JSON with U+FFFD, as marketd writes it.
  std::string expected = Render(direct);
  for (size_t at = expected.find("w\xff"); at != std::string::npos; at = expected.find("w\xff")) {
    expected.replace(at, 2, "w\xef\xbf\xbd");
  }
  EXPECT_EQ(Render(via_json), expected);
  // The older form (no "format", each good's values an object by buyer's name) gives the same
  // record; packed values that do not match their buyers fail the session.
  nlohmann::ordered_json older = nlohmann::ordered_json::parse(market::ResultsJson(results));
  older.erase("format");
  nlohmann::ordered_json mismatched = older;
  for (size_t a = 0; a < results.auctions.size(); ++a) {
    for (size_t g = 0; g < results.auctions[a].goods.size(); ++g) {
      auto& good = older["auctions"][a]["goods"][g];
      good.erase("value_buyers");
      good.erase("values_packed");
      nlohmann::ordered_json values = nlohmann::ordered_json::object();
      for (const market::BuyerValue& v : results.auctions[a].goods[g].values) {
        values[results.auctions[a].buyers[v.buyer].name] = v.value;
      }
      good["values"] = values;
    }
  }
  SessionRecord via_older;
  ASSERT_EQ(ReadResults(older.dump(), lineup, via_older), "");
  EXPECT_EQ(Render(via_older), expected);
  for (const char* packed : {"A", "AAAA", "A+A"}) {
    mismatched["auctions"][0]["goods"][0]["values_packed"] = packed;  // three values written
    SessionRecord failed;
    EXPECT_NE(ReadResults(mismatched.dump(), lineup, failed), "") << packed;
    EXPECT_EQ(failed.outcome, "failed");
  }
  mismatched["auctions"][0]["goods"][0]["value_buyers"] = {{2, 3}};  // past the 3 buyers
  mismatched["auctions"][0]["goods"][0]["values_packed"] = "AAA";
  SessionRecord failed;
  EXPECT_NE(ReadResults(mismatched.dump(), lineup, failed), "");
  EXPECT_EQ(direct.outcome, "ended_early");
  EXPECT_EQ(direct.revenue, 3000);
  const ParticipantRow& agent = direct.participants[2];
  EXPECT_EQ(agent.surplus, (1800 - 1500 - 600) * 2);  // its value less the price, less fines
  EXPECT_EQ(agent.expulsions, 2);
  EXPECT_TRUE(agent.logged_in);
  EXPECT_EQ(agent.response_count, 3);             // every stored bid
  EXPECT_EQ(direct.participants[1].fines, 2400);  // Bo2 is a member of the group Bo
  EXPECT_FALSE(direct.participants[3].logged_in);
  // Late ticks on the stepped clock only, and only for an agent that took part.
  EXPECT_EQ(agent.late_ticks, 3);
  EXPECT_FALSE(direct.participants[3].late_ticks);
  EXPECT_FALSE(direct.participants[0].late_ticks);
  results.clock = "real";
  SessionRecord real;
  ASSERT_EQ(ReadResults(market::ResultsJson(results), lineup, real), "");
  EXPECT_FALSE(real.participants[2].late_ticks);
}

}  // namespace
}  // namespace tournament
