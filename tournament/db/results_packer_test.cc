#include "tournament/db/results_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/scenario.h"
#include "engine/virtual_session.h"
#include "tests/support/files.h"
#include "tests/support/lineup.h"
#include "tournament/db/results_reader.h"
#include "tournament/db/session_codec.h"
#include "tournament/file/session_scenario.h"

namespace tournament {
namespace {

using test_support::LoadLineup;

// A real as stored: the same bits, or both absent.
bool SameReal(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) return !a && !b;
  return std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

// The one-pass packer against the record path it replaces on the hot path: every stored byte
// and figure the same. `into` may hold an earlier session, whose buffers are reused.
void ExpectSameAsRecordPath(const market::Results& results, const Lineup& lineup,
                            PackedSession& into) {
  SessionRecord record;
  ReadResults(results, lineup, record);
  const PackedSession expected = Pack(record);
  PackResults(results, lineup, into);
  EXPECT_EQ(into.participants, expected.participants);
  EXPECT_EQ(into.goods, expected.goods);
  EXPECT_EQ(into.plan, expected.plan);
  EXPECT_EQ(into.goods_total, expected.goods_total);
  EXPECT_EQ(into.goods_sold, expected.goods_sold);
  const SessionRecord& got = into.record;
  EXPECT_EQ(got.revenue, expected.record.revenue);
  EXPECT_TRUE(SameReal(got.efficiency, expected.record.efficiency));
  EXPECT_TRUE(SameReal(got.top_value_share, expected.record.top_value_share));
  EXPECT_TRUE(SameReal(got.price_over_top, expected.record.price_over_top));
  EXPECT_EQ(got.outcome, expected.record.outcome);
  EXPECT_EQ(got.detail, expected.record.detail);
  ASSERT_EQ(got.bids.size(), expected.record.bids.size());
  for (size_t i = 0; i < got.bids.size(); ++i) {
    const BidRow& a = got.bids[i];
    const BidRow& b = expected.record.bids[i];
    EXPECT_TRUE(a.auction == b.auction && a.good == b.good && a.price == b.price &&
                a.buyer == b.buyer && a.at_us == b.at_us && a.response_us == b.response_us)
        << i;
  }
  EXPECT_TRUE(got.goods.empty() && got.participants.empty());
}

// Played sessions, one packed over the other: single rivals and a numbered group, over seeds
// whose sessions differ in what sells, to whom and at which measure.
TEST(ResultsPacker, PacksPlayedSessionsAsTheRecordPathDoes) {
  const Lineup lineup = LoadLineup(R"(
[[lineups.entries]]
name = "Vera"
strategy = "value"
valuation = [70, 105]
[[lineups.entries]]
name = "Gang"
strategy = "careless"
valuation = [110, 150]
count = 2
[[lineups.entries]]
name = "Cleo"
strategy = "cautious"
valuation = [85, 115]
margin = 15
)");
  const SessionScenarioBuild build =
      BuildSessionScenario(std::string(market::DefaultScenarioText()), "default", lineup, {}, 1);
  ASSERT_TRUE(build.scenario) << build.error;
  PackedSession packed;
  int64_t sanctions = 0;
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    const market::VirtualRun run = market::RunVirtualSession(build.scenario->scenario, seed);
    SCOPED_TRACE(seed);
    ExpectSameAsRecordPath(run.results, lineup, packed);
    // The group's members are summed into their entry.
    const auto gang = std::find_if(packed.entries.begin(), packed.entries.end(),
                                   [](const EntryFigures& e) { return e.name == "Gang"; });
    ASSERT_NE(gang, packed.entries.end());
    EXPECT_EQ(gang->kind + " " + gang->strategy, "builtin careless");
    for (const auto& a : run.results.auctions) {
      for (const auto& b : a.buyers) sanctions += b.sanctions;
    }
  }
  EXPECT_GT(sanctions, 0);  // fines and sanctions took part in the surpluses compared
}

// Hand-made results with what played sessions of built-in bidders lack: an agent that logged in
// with bids and response times, a group member, a good id that is not UTF-8 and one with quotes,
// a pending good, a session that ended early, a lineup entry that never logged in.
TEST(ResultsPacker, PacksAgentsAndOddResultsAsTheRecordPathDoes) {
  const Lineup lineup = LoadLineup(R"(
[[lineups.entries]]
name = "Ana"
strategy = "value"
[[lineups.entries]]
name = "Bo"
strategy = "cautious"
count = 2
[[lineups.entries]]
agent = "buyer"
[[lineups.entries]]
command = "x"
login = "Never"
password = "pw"
)");
  market::Results results;
  results.completed = false;
  results.ended_early = "every buyer left";
  market::AuctionResult auction;
  auction.number = 2;
  market::GoodResult sold;
  sold.good = {"w\xff\"q\\", "wine", "Ana", 2000, 1800, 900, 1};
  sold.outcome = market::Outcome::kSold;
  sold.buyer = "CLogin";
  sold.price = 1500;
  sold.collisions = 2;
  // Out of the buyers' order, and a buyer from no entry whose name needs escaping.
  sold.values = {{1, 1700}, {2, 900}, {0, 1800}, {3, 5}};
  market::GoodResult pending;
  pending.good = {"oil", "oil", "Ben", 1000, 800, 500, 2};
  market::GoodResult unsold = sold;
  unsold.outcome = market::Outcome::kUnsold;
  unsold.buyer.clear();
  unsold.price = 0;
  auction.goods = {sold, pending, unsold};
  auction.buyers = {{"CLogin", true, 1, 1500, 300, 1, 600, true, false, "agent"},
                    {"Ana", false, 0, 0, 0, 0, 0, false, false, "value"},
                    {"Bo2", false, 0, 0, 0, 2, 1200, false, false, "cautious"},
                    {"Gh\"ost", false, 1, 5, 0, 0, 0, false, false, "value"}};
  results.auctions = {auction, auction};
  results.auctions[1].number = 3;
  results.participants = {{"CLogin", 7, 1, true, "too many faults"}};
  results.bids = {{2, "w", 1500, "CLogin", 10, 400, true},
                  {2, "w", 1500, "CLogin", 11, 900, false},
                  {3, "w", 1400, "CLogin", 30, 100, true}};
  PackedSession packed;
  ExpectSameAsRecordPath(results, lineup, packed);
  EXPECT_EQ(packed.goods_sold, 2);
  EXPECT_EQ(packed.record.revenue, 3000);
  // Packed again into the same session, nothing of the first packing is left over.
  ExpectSameAsRecordPath(market::Results{}, lineup, packed);
  EXPECT_EQ(packed.goods, GoodsEncoder().Take());
  EXPECT_TRUE(packed.plan.empty());
  EXPECT_FALSE(packed.record.efficiency);
}

}  // namespace
}  // namespace tournament
