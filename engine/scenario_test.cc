#include "engine/scenario.h"

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "engine/plan.h"

namespace market {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(Scenario, ShippedExamplesLoad) {
  for (const char* name :
       {"default.toml", "large.toml", "network.toml", "load.toml", "sim_large.toml"}) {
    SCOPED_TRACE(name);
    ScenarioLoad load = LoadScenarioFile(std::string(SCENARIOS_DIR) + "/" + name);
    ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
    EXPECT_FALSE(load.scenario->registry.empty());
  }
  // The built-in default is the shipped file, compiled in.
  EXPECT_EQ(DefaultScenarioText(), ReadFile(std::string(SCENARIOS_DIR) + "/default.toml"));
}

TEST(Scenario, DefaultScenarioSettings) {
  ScenarioLoad load = ParseScenario(DefaultScenarioText(), kDefaultScenarioName);
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  const Scenario& s = *load.scenario;
  EXPECT_GE(s.tick_ms, 20);  // the agent answers well within it on a loaded machine
  ASSERT_EQ(s.registry.size(), 1u);
  EXPECT_EQ(s.registry[0].login, "CLogin");
  EXPECT_EQ(s.registry[0].password, "TGatekeep");
  EXPECT_EQ(s.auctions.size(), 3u);
  ASSERT_EQ(s.rivals.size(), 4u);
  EXPECT_EQ(s.rivals[2].strategy, Strategy::kCautious);
  EXPECT_EQ(s.rivals[3].strategy, Strategy::kCareless);
  EXPECT_EQ(s.rivals[3].value.low, 120);
  EXPECT_EQ(s.auctions[1].price_step, 500);
  EXPECT_EQ(s.auctions[1].goods[3].round, 2);
}

TEST(Scenario, EverySettingIsRead) {
  const char* text = R"(seed = 99
tick_ms = 40
price_step = 50
collision_increment = 75
max_collisions = 5
sanctions_before_expulsion = 3
fine_base = 10
fine_percent = 20
admission_window_ms = 1500
min_buyers = 1
max_buyers = 1
[[registry]]
login = "A"
password = "pa"
[[rivals]]
name = "Bot"
strategy = "cautious"
valuation = [50, 60]
margin = 5
count = 12
[generator]
kinds = ["x"]
sellers = ["y", "z"]
initial = [500, 600]
resale_percent = [90, 95]
reserve_percent = [10, 20]
[[auctions]]
rounds = 4
price_step = 7
rivals = []
generated_goods = 9
)";
  ScenarioLoad load = ParseScenario(text, "all.toml");
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  const Scenario& s = *load.scenario;
  EXPECT_EQ(s.seed, 99u);
  EXPECT_EQ(s.tick_ms, 40);
  EXPECT_EQ(s.price_step, 50);
  EXPECT_EQ(s.collision_increment, 75);
  EXPECT_EQ(s.max_collisions, 5);
  EXPECT_EQ(s.sanctions_before_expulsion, 3);
  EXPECT_EQ(s.fine_base, 10);
  EXPECT_EQ(s.fine_percent, 20);
  EXPECT_EQ(s.admission_window_ms, 1500);
  EXPECT_EQ(s.min_buyers, 1);
  EXPECT_EQ(s.max_buyers, 1);
  EXPECT_EQ(BuyerCapacity(s), 1);
  EXPECT_EQ(s.rivals[0].margin, 5);
  EXPECT_EQ(RivalNames(s.rivals[0]).back(), "Bot12");
  EXPECT_EQ(s.generator.sellers.size(), 2u);

  const SessionPlan plan = BuildPlan(s, 3);
  EXPECT_EQ(plan.rivals.size(), 12u);
  ASSERT_EQ(plan.auctions.size(), 1u);
  const AuctionPlan& auction = plan.auctions[0];
  EXPECT_TRUE(auction.rivals.empty());
  EXPECT_EQ(auction.price_step, 7);
  ASSERT_EQ(auction.goods.size(), 9u);
  // Nine goods over four rounds in order: rounds 1,1,1,2,2,3,3,4,4.
  const int rounds[] = {1, 1, 1, 2, 2, 3, 3, 4, 4};
  for (size_t i = 0; i < 9; ++i) {
    const Good& g = auction.goods[i];
    SCOPED_TRACE(g.id);
    EXPECT_EQ(g.id, "a1g" + std::to_string(i + 1));
    EXPECT_EQ(g.round, rounds[i]);
    EXPECT_EQ(g.kind, "x");
    EXPECT_GE(g.initial, 500);
    EXPECT_LE(g.initial, 600);
    EXPECT_GE(g.resale, g.initial * 90 / 100);
    EXPECT_LE(g.resale, g.initial * 95 / 100);
    EXPECT_GE(g.reserve, g.initial * 10 / 100);
    EXPECT_LE(g.reserve, g.initial * 20 / 100);
  }
  // The goods drawn depend on the seed.
  const SessionPlan again = BuildPlan(s, 3);
  const SessionPlan other = BuildPlan(s, 4);
  bool differs = false;
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(again.auctions[0].goods[i].initial, auction.goods[i].initial);
    differs |= other.auctions[0].goods[i].initial != auction.goods[i].initial;
  }
  EXPECT_TRUE(differs);
}

// Five lines of a valid scenario; cases add to it or replace it.
const std::string kRegistry = "[[registry]]\nlogin = \"CLogin\"\npassword = \"TGatekeep\"\n";
const std::string kGood =
    "{ id = \"g1\", kind = \"k\", seller = \"s\", initial = 100, resale = 90, reserve = 50 }";
const std::string kAuction = "[[auctions]]\ngoods = [" + kGood + "]\n";

TEST(Scenario, MalformedFilesNameTheLineAndTheFault) {
  const std::string rival = "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\n";
  std::string many_auctions = kRegistry;
  for (int i = 0; i < 22; ++i) many_auctions += "[[auctions]]\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"tick = 5\n" + kRegistry + kAuction, "test.toml:1: unknown key 'tick' in the top level"},
      {"tick_ms = 0\n" + kRegistry + kAuction,
       "test.toml:1: tick_ms must be an integer from 1 to 60000"},
      {"min_buyers = 2\n" + kRegistry + kAuction,
       "test.toml:1: min_buyers is 2 but at most 1 buyers can be admitted"},
      {"max_buyers = 101\n" + kRegistry + kAuction,
       "test.toml:1: max_buyers must be an integer from 0 to 100"},
      {kRegistry + "price_step = \"ten\"\n" + kAuction,
       "test.toml:4: unknown key 'price_step' in [[registry]]"},
      {"price_step = \"ten\"\n" + kRegistry + kAuction,
       "test.toml:1: price_step must be an integer from 1 to 1000000"},
      {"seed = -1\n" + kRegistry + kAuction,
       "test.toml:1: seed must be an integer from 0 to 9223372036854775807"},
      {"[[registry]]\nlogin = \"CLogin\"\n" + kAuction,
       "test.toml:1: missing key 'password' in [[registry]]"},
      {"[[registry]]\nlogin = \"CLogin\"\npassword = \"two words\"\n" + kAuction,
       "test.toml:3: password must be a string of 1 to 64 printable characters without spaces"},
      {kRegistry + kRegistry + kAuction, "test.toml:4: login CLogin is registered twice"},
      {kAuction, "test.toml:1: the scenario has no [[registry]] entry: no buyer could log in"},
      {kRegistry, "test.toml:1: the scenario must have 1 to 21 [[auctions]], not 0"},
      {many_auctions, "test.toml:4: the scenario must have 1 to 21 [[auctions]], not 22"},
      {kRegistry + "[[auctions]]\ngoods = [\n  " + kGood + ",\n  " + kGood + "\n]\n",
       "test.toml:7: good id g1 is used twice in auction 1"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"g1\", kind = \"k\", seller = \"s\", "
                   "initial = 100, resale = 90, reserve = 150 }]\n",
       "test.toml:5: reserve must be an integer from 0 to 100"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"sixteen_chars_id\", kind = \"k\", "
                   "seller = \"s\", initial = 100, resale = 90, reserve = 50 }]\n",
       "test.toml:5: id must be a string of 1 to 15 printable characters without spaces"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"g 1\", kind = \"k\", seller = \"s\", "
                   "initial = 100, resale = 90, reserve = 50 }]\n",
       "test.toml:5: id must be a string of 1 to 15 printable characters without spaces"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"g1\", kind = \"k\", seller = \"s\", "
                   "initial = 100, resale = 90, reserve = 50, round = 2 }]\n",
       "test.toml:5: round must be an integer from 1 to 1"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"g1\", kind = \"k\", seller = \"s\", "
                   "initial = 100, resale = 90, reserve = 50, colour = 1 }]\n",
       "test.toml:5: unknown key 'colour' in a good"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"g1\", kind = \"k\", seller = \"s\", "
                   "resale = 90, reserve = 50 }]\n",
       "test.toml:5: missing key 'initial' in a good"},
      {kRegistry + "[[rivals]]\nname = \"Vera\"\nstrategy = \"greedy\"\n" + kAuction,
       "test.toml:6: strategy must be one of \"value\", \"cautious\", \"careless\", "
       "\"truthful\", \"equilibrium\", \"zero_intelligence\", \"adaptive\""},
      {kRegistry + rival + "valuation = [90, 100]\nvalue = { fixed = 5 }\n" + kAuction,
       "test.toml:8: a rival has either valuation or value, not both"},
      {kRegistry + rival + "value = { fixed = 5, uniform = [1, 2] }\n" + kAuction,
       "test.toml:7: value must hold exactly one of fixed, uniform and mean (with sd)"},
      {kRegistry + rival + "value = { uniform = [9, 2] }\n" + kAuction,
       "test.toml:7: uniform must be a pair [low, high] of an integer from 0 to 100000000, low <= "
       "high"},
      {kRegistry + rival + "value = { mean = 500 }\n" + kAuction,
       "test.toml:7: missing key 'sd' in value"},
      {kRegistry + rival + "value = { mean = 500, sd = 50, clip = [0, 1], shape = 2 }\n" + kAuction,
       "test.toml:7: unknown key 'shape' in value"},
      {kRegistry + rival + "value = 5\n" + kAuction,
       "test.toml:7: value must be a table: { fixed = N }, { uniform = [low, high] } or "
       "{ mean = M, sd = S, clip = [low, high] }"},
      {kRegistry + rival + "shade = 96\n" + kAuction,
       "test.toml:7: shade must be an integer from 0 to 95"},
      {kRegistry + rival + "valuation = [90]\n" + kAuction,
       "test.toml:7: valuation must be a pair [low, high] of an integer from 1 to 1000, low <= "
       "high"},
      {kRegistry + rival + "valuation = [90, 80]\n" + kAuction,
       "test.toml:7: valuation must be a pair [low, high] of an integer from 1 to 1000, low <= "
       "high"},
      {kRegistry + rival + rival + kAuction, "test.toml:7: buyer name Vera is used twice"},
      {kRegistry + "[[rivals]]\nname = \"CLogin\"\nstrategy = \"value\"\n" + kAuction,
       "test.toml:4: buyer name CLogin is used twice"},
      {kRegistry + "[[rivals]]\nname = \"LongGroupName\"\nstrategy = \"value\"\ncount = 100\n" +
           kAuction,
       "test.toml:4: rival names LongGroupName1 .. LongGroupName100 would be longer than 15 "
       "characters"},
      {kRegistry + "[[rivals]]\nname = \"Bot\"\nstrategy = \"value\"\ncount = 100\n" + kAuction,
       "test.toml:8: auction 1 would have 101 buyers (registry and rivals; at most 100)"},
      // A larger market holds what buyers_per_auction says, and no more.
      {"buyers_per_auction = 150\n" + kRegistry +
           "[[rivals]]\nname = \"Bot\"\nstrategy = \"value\"\ncount = 150\n" + kAuction,
       "test.toml:9: auction 1 would have 151 buyers (registry and rivals; at most 150)"},
      {"buyers_per_auction = 1001\n" + kRegistry + kAuction,
       "test.toml:1: buyers_per_auction must be an integer from 1 to 1000"},
      {"buyers_per_auction = 150\nmax_buyers = 151\n" + kRegistry + kAuction,
       "test.toml:2: max_buyers must be an integer from 0 to 150"},
      {kRegistry + rival + "[[auctions]]\nrivals = [\"Otto\"]\n",
       "test.toml:8: auction rivals: no [[rivals]] entry is named Otto"},
      {kRegistry + "[[auctions]]\ngenerated_goods = 201\n",
       "test.toml:5: generated_goods must be an integer from 0 to 200"},
      {kRegistry + "[[auctions]]\ngoods = [" + kGood + "]\ngenerated_goods = 200\n",
       "test.toml:4: auction 1 has 201 goods (at most 200)"},
      {kRegistry + "[[auctions]]\ngoods = [{ id = \"a1g2\", kind = \"k\", seller = \"s\", "
                   "initial = 100, resale = 90, reserve = 50 }]\ngenerated_goods = 3\n",
       "test.toml:4: good id a1g2 is used twice in auction 1 (it is also a generated good's id)"},
      {kRegistry + "[generator]\nkinds = []\n" + kAuction, "test.toml:5: kinds must not be empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ScenarioLoad load = ParseScenario(c.text, "test.toml");
    EXPECT_FALSE(load.scenario.has_value());
    EXPECT_EQ(load.error.ToString(), c.error);
  }
}

TEST(Scenario, SyntaxErrorsAndUnreadableFiles) {
  ScenarioLoad load = ParseScenario(kRegistry + "tick_ms = \n" + kAuction, "broken.toml");
  EXPECT_FALSE(load.scenario.has_value());
  EXPECT_EQ(load.error.file, "broken.toml");
  EXPECT_EQ(load.error.line, 4);
  EXPECT_FALSE(load.error.fault.empty());
  EXPECT_EQ(load.error.ToString().find('\n'), std::string::npos);

  // A fault that quotes what it found keeps to one line: control characters are escaped.
  load = ParseScenario("seed = n\n", "quoted.toml");
  EXPECT_FALSE(load.scenario.has_value());
  EXPECT_NE(load.error.fault.find('\n'), std::string::npos);
  EXPECT_EQ(load.error.ToString().find('\n'), std::string::npos);
  EXPECT_NE(load.error.ToString().find("\\n"), std::string::npos) << load.error.ToString();
  EXPECT_EQ((ScenarioError{"a\tb", 2, "x\x01y\rz"}).ToString(), "a\\tb:2: x\\x01y\\rz");
  // A backslash is doubled, so an escape in the text cannot be mistaken for one made here.
  EXPECT_EQ((ScenarioError{"dir\\s.toml", 3, "found \\n"}).ToString(),
            "dir\\\\s.toml:3: found \\\\n");

  load = LoadScenarioFile("/nonexistent/scenario.toml");
  EXPECT_EQ(load.error.ToString(),
            "/nonexistent/scenario.toml:0: cannot open the file: No such file or directory");
  load = LoadScenarioFile(SCENARIOS_DIR);
  EXPECT_EQ(load.error.ToString(),
            std::string(SCENARIOS_DIR) + ":0: is a folder, not a scenario file");
}

TEST(Scenario, Names) {
  EXPECT_TRUE(IsValidName("a"));
  EXPECT_TRUE(IsValidName("fifteen_chars_x"));
  EXPECT_FALSE(IsValidName(""));
  EXPECT_FALSE(IsValidName("sixteen_chars_xy"));
  EXPECT_FALSE(IsValidName("tab\there"));
  EXPECT_FALSE(IsValidName(std::string("nul\0", 4)));
  EXPECT_FALSE(IsValidName("caf\xc3\xa9"));
}

}  // namespace
}  // namespace market

namespace market {
namespace {

TEST(Scenario, RivalValueRulesAndStrategyParameters) {
  const std::string text = R"(
[[registry]]
login = "A"
password = "pa"
[[rivals]]
name = "Fix"
strategy = "truthful"
value = { fixed = 1200 }
[[rivals]]
name = "Uni"
strategy = "equilibrium"
value = { uniform = [0, 1000] }
count = 3
[[rivals]]
name = "Nor"
strategy = "zero_intelligence"
value = { mean = 800, sd = 150, clip = [100, 1500] }
[[rivals]]
name = "Ada"
strategy = "adaptive"
shade = 25
learning_rate = 4
[[rivals]]
name = "Old"
strategy = "careless"
[[auctions]]
generated_goods = 1
)";
  ScenarioLoad load = ParseScenario(text, "values.toml");
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  const Scenario& s = *load.scenario;
  ASSERT_EQ(s.rivals.size(), 5u);
  EXPECT_EQ(s.rivals[0].strategy, Strategy::kTruthful);
  EXPECT_EQ(s.rivals[0].value.kind, ValueRule::Kind::kFixed);
  EXPECT_EQ(s.rivals[0].value.fixed, 1200);
  EXPECT_EQ(s.rivals[1].strategy, Strategy::kEquilibrium);
  EXPECT_EQ(s.rivals[1].value.kind, ValueRule::Kind::kUniform);
  EXPECT_EQ(s.rivals[1].value.high, 1000);
  EXPECT_EQ(s.rivals[2].strategy, Strategy::kZeroIntelligence);
  EXPECT_EQ(s.rivals[2].value.kind, ValueRule::Kind::kNormal);
  EXPECT_EQ(s.rivals[2].value.mean, 800);
  EXPECT_EQ(s.rivals[2].value.sd, 150);
  EXPECT_EQ(s.rivals[2].value.low, 100);
  EXPECT_EQ(s.rivals[2].value.high, 1500);
  EXPECT_EQ(s.rivals[3].strategy, Strategy::kAdaptive);
  EXPECT_EQ(s.rivals[3].shade, 25);
  EXPECT_EQ(s.rivals[3].learning_rate, 4);
  EXPECT_EQ(s.rivals[3].value.kind, ValueRule::Kind::kResalePercent);  // the default
  EXPECT_EQ(s.rivals[4].value.low, 90);  // the careless default range, percent of resale
  EXPECT_EQ(s.rivals[4].value.high, 140);

  const SessionPlan plan = BuildPlan(s, 1);
  ASSERT_EQ(plan.rivals.size(), 7u);
  EXPECT_EQ(plan.rivals[3].value.kind, ValueRule::Kind::kUniform);  // Uni3
  EXPECT_EQ(plan.rivals[5].shade, 25);
}

// The results keep every price a good's clock announces, so a price range too many steps long is
// refused when the scenario is loaded, for listed goods and for any good the generator may draw.
TEST(Scenario, AGoodsClockIsBoundedWhenTheScenarioIsLoaded) {
  const auto good = [](int64_t initial, int64_t reserve) {
    return "goods = [{ id = \"g1\", kind = \"k\", seller = \"s\", initial = " +
           std::to_string(initial) + ", resale = 1, reserve = " + std::to_string(reserve) + " }]\n";
  };
  const std::string auction = "[[auctions]]\n";
  const std::string no_rises = "collision_increment = 0\n";
  const std::string generated = "[[auctions]]\ngenerated_goods = 1\n";
  const std::string fault =
      " prices ((initial - reserve + max_collisions * collision_increment) / price_step + 1; at "
      "most 1000): raise price_step or the reserve";
  const struct {
    std::string text;
    std::string error;  // empty: the scenario loads
  } cases[] = {
      // 10^8 prices of one unit, each kept in the results.
      {"price_step = 1\n" + kRegistry + auction + good(100'000'000, 0),
       "test.toml:6: good g1 may be offered at up to 100000601" + fault},
      {"price_step = 1\n" + no_rises + kRegistry + auction + good(999, 0), ""},
      {"price_step = 1\n" + no_rises + kRegistry + auction + good(1000, 0),
       "test.toml:7: good g1 may be offered at up to 1001" + fault},
      {"price_step = 1\n" + no_rises + kRegistry + auction + good(1500, 501), ""},
      // Each collision raises the price, which runs down again.
      {kRegistry + auction + good(50'000, 0), ""},
      {"max_collisions = 100\ncollision_increment = 500\n" + kRegistry + auction + good(50'000, 0),
       "test.toml:7: good g1 may be offered at up to 1001" + fault},
      // The auction's own step is the one its goods are offered at.
      {"price_step = 1\n" + kRegistry + auction + "price_step = 1000000\n" + good(100'000'000, 0),
       ""},
      // A drawn good: the highest initial price and the lowest reserve percentage.
      {no_rises + kRegistry + generated + "[generator]\ninitial = [1000, 99900]\n" +
           "reserve_percent = [0, 50]\n",
       ""},
      {no_rises + kRegistry + generated + "[generator]\ninitial = [1000, 100000]\n" +
           "reserve_percent = [0, 50]\n",
       "test.toml:6: a good drawn by [generator] for auction 1 may be offered at up to 1001" +
           fault},
      {no_rises + kRegistry + generated + "[generator]\ninitial = [1000, 100000]\n" +
           "reserve_percent = [1, 50]\n",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ScenarioLoad load = ParseScenario(c.text, "test.toml");
    EXPECT_EQ(load.scenario.has_value(), c.error.empty());
    if (!load.scenario) {
      EXPECT_EQ(load.error.ToString(), c.error);
      continue;
    }
    // Every good planned, drawn or listed, stays within the bound.
    for (uint64_t seed = 1; seed <= 50; ++seed) {
      for (const AuctionPlan& planned : BuildPlan(*load.scenario, seed).auctions) {
        for (const Good& g : planned.goods) {
          EXPECT_LE(MostOffers(g.initial, g.reserve, planned.price_step, *load.scenario),
                    kMaxOffersPerGood);
        }
      }
    }
  }
}

TEST(Scenario, BuyersPerAuctionRaisesTheMarketsSize) {
  const std::string text = "buyers_per_auction = 300\n" + kRegistry +
                           "[[rivals]]\nname = \"Bot\"\nstrategy = \"value\"\ncount = 299\n" +
                           kAuction;
  ScenarioLoad load = ParseScenario(text, "test.toml");
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  EXPECT_EQ(load.scenario->buyers_per_auction, 300);
}

}  // namespace
}  // namespace market
