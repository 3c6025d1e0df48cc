#include "engine/virtual_session.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/engine.h"
#include "engine/packed_numbers.h"
#include "engine/results_json.h"
#include "engine/summary.h"
#include "tests/support/scenario_text.h"

namespace market {
namespace {

// A good's values by buyer's name, read back from the document: the runs of buyers' indices into
// the auction's buyers, and the values in that order, packed.
std::map<std::string, int64_t> ValuesOf(const nlohmann::json& good, const nlohmann::json& buyers) {
  std::map<std::string, int64_t> out;
  const std::vector<int64_t> values =
      UnpackNumbers(good["values_packed"].get<std::string>()).value();
  size_t k = 0;
  for (const auto& run : good["value_buyers"]) {
    for (size_t i = 0; i < run[1].get<size_t>(); ++i) {
      out[buyers.at(run[0].get<size_t>() + i)["name"]] = values.at(k++);
    }
  }
  EXPECT_EQ(k, values.size());
  return out;
}

Scenario Default() {
  ScenarioLoad load = ParseScenario(DefaultScenarioText(), kDefaultScenarioName);
  EXPECT_TRUE(load.scenario.has_value());
  return *load.scenario;
}

TEST(VirtualSession, RunsToTheCloseAndIsReproducibleForASeed) {
  const Scenario scenario = Default();
  const Results a = RunVirtualSession(scenario, 5).results;
  EXPECT_TRUE(a.completed);
  EXPECT_EQ(a.auctions.size(), 3u);
  EXPECT_TRUE(a.participants.empty());
  EXPECT_EQ(ResultsJson(a), ResultsJson(RunVirtualSession(scenario, 5).results));
  EXPECT_NE(ResultsJson(a), ResultsJson(RunVirtualSession(scenario, 6).results));
}

// A virtual session runs silenced: the engine builds no message. And silencing changes nothing
// else: the whole results document, every good's price clock included, and the session's length
// are those of the same session with every message built.
TEST(VirtualSession, RunsSilencedAndDecidesAsOneWithMessages) {
  const Scenario scenario = Default();
  for (const uint64_t seed : {uint64_t{11}, uint64_t{12}, uint64_t{13}}) {
    const VirtualRun silent = RunVirtualSession(scenario, seed);
    const VirtualRun loud = RunVirtualSession(scenario, seed, Messages::kBuilt);
    EXPECT_EQ(silent.messages, 0);
    EXPECT_GT(loud.messages, 100);
    const std::string json = ResultsJson(silent.results);
    EXPECT_EQ(json, ResultsJson(loud.results));
    EXPECT_EQ(silent.duration_us, loud.duration_us);
    EXPECT_GT(silent.duration_us, 0);
    size_t clock_steps = 0;
    const nlohmann::json doc = nlohmann::json::parse(json);
    for (const auto& auction : doc["auctions"]) {
      for (const auto& good : auction["goods"]) clock_steps += good["clock"].size();
    }
    EXPECT_GT(clock_steps, 10u);
  }
}

// Every measure can be recomputed from the results JSON alone: the values of every buyer present
// for every good, the outcome and price.
TEST(VirtualSession, TheMeasuresFollowFromTheValuesInTheJson) {
  const std::string text = R"(
seed = 3
price_step = 10
[[registry]]
login = "Nobody"
password = "x"
[[rivals]]
name = "T"
count = 2
strategy = "truthful"
value = { uniform = [0, 1000] }
[[rivals]]
name = "Z"
strategy = "zero_intelligence"
value = { mean = 600, sd = 200, clip = [0, 1000] }
[[rivals]]
name = "A"
strategy = "adaptive"
value = { fixed = 700 }
[[auctions]]
generated_goods = 40
[generator]
initial = [1000, 1000]
reserve_percent = [20, 40]
)";
  ScenarioLoad load = ParseScenario(text, "mixed.toml");
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  const nlohmann::json j =
      nlohmann::json::parse(ResultsJson(RunVirtualSession(*load.scenario, 3).results));
  int64_t revenue = 0;
  int64_t winners = 0;
  int64_t tops = 0;
  std::map<std::string, int64_t> surplus;
  for (const auto& good : j["auctions"][0]["goods"]) {
    const std::map<std::string, int64_t> values = ValuesOf(good, j["auctions"][0]["buyers"]);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values.at("A"), 700);
    int64_t top = 0;
    for (const auto& [name, value] : values) top = std::max<int64_t>(top, value);
    EXPECT_EQ(good["top_value"], top);
    if (good["outcome"] == "sold") {
      const int64_t price = good["price"];
      const int64_t value = values.at(good["buyer"].get<std::string>());
      revenue += price;
      winners += value;
      tops += top;
      surplus[good["buyer"]] += value - price;
      EXPECT_EQ(good["winner_value"], value);
    } else if (top >= good["reserve"].get<int64_t>()) {
      tops += top;
    }
  }
  const auto& measures = j["auctions"][0]["measures"];
  EXPECT_GT(revenue, 0);
  EXPECT_EQ(measures["revenue"], revenue);
  EXPECT_DOUBLE_EQ(measures["efficiency"].get<double>(),
                   static_cast<double>(winners) / static_cast<double>(tops));
  for (const auto& buyer : j["auctions"][0]["buyers"]) {
    EXPECT_EQ(buyer["surplus"], surplus[buyer["name"]] - buyer["fines"].get<int64_t>());
    EXPECT_FALSE(buyer["strategy"].get<std::string>().empty());
  }
  EXPECT_EQ(j["auctions"][0]["buyers"][3]["strategy"], "adaptive");
}

// A good's tick bids take room as bids come: in a market of 999 rivals where a good draws a
// handful of bids, its list holds about those, not a place for every buyer.
TEST(VirtualSession, AGoodHoldsRoomForTheBidsMadeNotForEveryBuyer) {
  const std::string text = R"(
buyers_per_auction = 1000
[[registry]]
login = "A"
password = "p"
[[rivals]]
name = "T"
count = 999
strategy = "truthful"
value = { uniform = [500, 3500] }
[[auctions]]
generated_goods = 20
)";
  ScenarioLoad load = ParseScenario(text, "crowd.toml");
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  const Results r = RunVirtualSession(*load.scenario, 4).results;
  ASSERT_EQ(r.auctions.size(), 1u);
  ASSERT_EQ(r.auctions[0].buyers.size(), 999u);
  for (const GoodResult& good : r.auctions[0].goods) {
    EXPECT_FALSE(good.tick_bids.empty()) << good.good.id;
    EXPECT_LE(good.tick_bids.capacity_bytes(), 2 * good.tick_bids.bytes() + 64) << good.good.id;
  }
}

// A crowd of careless rivals draws sanctions: each voided sale offers the good again, and every
// rival still in bids again. Thousands of such ticks, each bid on by hundreds, are recorded whole
// at about a byte a bid.
TEST(VirtualSession, VoidedSalesBidOnByACrowdAreKeptAtAboutAByteABid) {
  const std::string text =
      test_support::ScenarioText()
          .Set("buyers_per_auction", 1000)
          .Set("sanctions_before_expulsion", 20)
          .Buyer("A", "p")
          .Tables("[[rivals]]\nname = \"C\"\ncount = 300\nstrategy = \"careless\"\n")
          .Auction({test_support::GoodToml("g", 99000, 90000, 1000)})
          .Build();
  ScenarioLoad load = ParseScenario(text, "crowd.toml");
  ASSERT_TRUE(load.scenario.has_value()) << load.error.ToString();
  const Results r = RunVirtualSession(*load.scenario, 4).results;
  const GoodResult& good = r.auctions.at(0).goods.at(0);
  EXPECT_GT(good.sanctions, 1000);
  ASSERT_GT(good.tick_bids.size(), 300'000u);
  EXPECT_EQ(good.tick_bids.Unpacked().size(), good.tick_bids.size());
  EXPECT_LT(good.tick_bids.bytes(), 2 * good.tick_bids.size());
}

}  // namespace
}  // namespace market
