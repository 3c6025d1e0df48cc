// The contract between the market and the agent: every message kind the engine sends is one the
// agent reads (its own table of kinds), and the largest example session stays within the agent's
// table limits, with the engine driven by the agent's own bidding rule.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "buyer/link/protocol.h"
#include "engine/engine.h"
#include "engine/scenario.h"
#include "tests/support/engine_driver.h"

namespace market {
namespace {

using test_support::AgentRule;
using test_support::MustParse;
using test_support::RunSession;
using test_support::SessionRun;
using test_support::Tag;

Scenario LoadExample(const std::string& name) {
  ScenarioLoad load = LoadScenarioFile(std::string(SCENARIOS_DIR) + "/" + name);
  EXPECT_TRUE(load.scenario.has_value()) << load.error.ToString();
  return load.scenario.value_or(Scenario{});
}

// Two auctions in which every message but "deny" occurs with the agent's own rule. Auction 1:
// Rash values gold above his credit and is sanctioned twice and expelled; the gold goes out of the
// market; then the agent alone buys wine. Auction 2: the agent and Vera both bid on oil at 2000;
// after the collision only Vera bids.
constexpr char kEveryMessage[] = R"(tick_ms = 20
collision_increment = 150
max_collisions = 2
sanctions_before_expulsion = 2
fine_base = 500
fine_percent = 10
[[registry]]
login = "CLogin"
password = "TGatekeep"
[[rivals]]
name = "Rash"
strategy = "careless"
valuation = [100, 100]
[[rivals]]
name = "Vera"
strategy = "value"
valuation = [100, 100]
[[auctions]]
price_step = 10000
rivals = ["Rash"]
goods = [
  { id = "gold", kind = "gold", seller = "Ana", initial = 70000, resale = 60000, reserve = 40000 },
  { id = "wine", kind = "wine", seller = "Ben", initial = 1000, resale = 1500, reserve = 500 },
]
[[auctions]]
rivals = ["Vera"]
goods = [{ id = "oil", kind = "oil", seller = "Cruz", initial = 2000, resale = 2500, reserve = 1000 }]
)";

TEST(WholeSession, EveryMessageKindButDenyOccursAndTheAgentWinsSome) {
  const Scenario scenario = MustParse(kEveryMessage);
  Engine engine(scenario, 1);
  SessionRun run = RunSession(engine, AgentRule());
  std::map<std::string, int> kinds;
  for (const std::string& line : run.lines) ++kinds[Tag(line)];
  for (const char* tag : Message_Tags) {
    if (std::string(tag) == "deny") continue;
    EXPECT_GT(kinds[tag], 0) << tag;
  }
  EXPECT_EQ(kinds.size(), static_cast<size_t>(NUM_MESSAGE_KINDS - 1));
  EXPECT_TRUE(run.closed);
  // The messages and the results tell the same story.
  const std::vector<std::string> expected_auction1 = {
      "offer gold 70000", "offer gold 60000",         "sanction Rash 6500",
      "offer gold 60000", "sanction Rash 6500",       "expulsion Rash",
      "buyers CLogin",    "offer gold 60000",         "offer gold 50000",
      "offer gold 40000", "out_of_market gold 40000", "good wine wine Ben 1000 1500",
      "offer wine 1000",  "sold CLogin 1000"};
  const auto first = std::find(run.lines.begin(), run.lines.end(), "offer gold 70000");
  ASSERT_GE(run.lines.end() - first, 14);
  EXPECT_EQ(std::vector<std::string>(first, first + 14), expected_auction1);
  const Results& r = engine.results();
  EXPECT_TRUE(r.completed);
  ASSERT_EQ(r.auctions.size(), 2u);
  EXPECT_EQ(r.auctions[0].goods[0].outcome, Outcome::kUnsold);
  EXPECT_EQ(r.auctions[0].goods[0].sanctions, 2);
  EXPECT_EQ(r.auctions[0].buyers[0].purchases, 1);
  EXPECT_EQ(r.auctions[0].buyers[1].name, "Rash");
  EXPECT_EQ(r.auctions[0].buyers[1].fines, 13000);
  EXPECT_TRUE(r.auctions[0].buyers[1].expelled);
  EXPECT_EQ(r.auctions[1].goods[0].buyer, "Vera");
  EXPECT_EQ(r.auctions[1].goods[0].price, 2150);
  EXPECT_EQ(r.auctions[1].goods[0].collisions, 1);
}

TEST(LargeSession, RunsToTheEndWithinTheAgentsTableLimits) {
  const Scenario scenario = LoadExample("large.toml");
  Engine engine(scenario, scenario.seed);
  SessionRun run = RunSession(engine, AgentRule());
  EXPECT_TRUE(engine.results().completed);
  EXPECT_EQ(run.lines.back(), "closed_market");
  size_t most_goods = 0;
  size_t most_buyers = 0;
  for (const std::string& line : run.lines) {
    std::vector<std::string> words;
    for (size_t at = 0; at != std::string::npos;) {
      const size_t end = line.find(' ', at);
      words.push_back(line.substr(at, end == std::string::npos ? end : end - at));
      at = end == std::string::npos ? end : end + 1;
    }
    for (const std::string& word : words) {
      EXPECT_TRUE(!word.empty() && word.size() <= 15) << line;
    }
    if (words[0] == "goods") most_goods = std::max(most_goods, (words.size() - 1) / 5);
    if (words[0] == "buyers") most_buyers = std::max(most_buyers, words.size() - 1);
  }
  EXPECT_EQ(engine.results().auctions.size(), 21u);
  EXPECT_EQ(most_goods, 200u);
  EXPECT_EQ(most_buyers, 100u);
}

}  // namespace
}  // namespace market
