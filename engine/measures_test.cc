#include "engine/measures.h"

#include <gtest/gtest.h>

#include "engine/sample_results.h"

namespace market {
namespace {

using test_support::SampleResults;

TEST(Measures, PerGoodAuctionAndSessionOnTheSample) {
  const AuctionResult auction = SampleResults().auctions[0];
  const GoodMeasures wine = MeasureGood(auction.goods[0], auction.buyers);
  EXPECT_EQ(wine.top_value, 2600);     // Rash's
  EXPECT_EQ(wine.winner_value, 2300);  // the agent's value is the resale price
  EXPECT_FALSE(wine.won_by_top);
  EXPECT_DOUBLE_EQ(*wine.price_over_top, 2000.0 / 2600.0);
  const GoodMeasures oil = MeasureGood(auction.goods[2], auction.buyers);
  EXPECT_FALSE(oil.counts);  // unsold, and nobody valued it at its reserve 1600
  EXPECT_FALSE(oil.winner_value.has_value());
  EXPECT_FALSE(oil.price_over_top.has_value());

  const MarketMeasures m = MeasureAuction(auction);
  EXPECT_EQ(m.goods, 3);
  EXPECT_EQ(m.sold, 2);
  EXPECT_EQ(m.revenue, 22500);
  EXPECT_DOUBLE_EQ(*m.efficiency(), (2300.0 + 21000.0) / (2600.0 + 27000.0));
  EXPECT_DOUBLE_EQ(*m.top_value_share(), 0.0);
  EXPECT_DOUBLE_EQ(*m.price_over_top(), (2000.0 / 2600.0 + 20500.0 / 27000.0) / 2);
  // value less price, less fines, in buyers order
  EXPECT_EQ(Surpluses(auction), (std::vector<int64_t>{300, 500, -5300}));

  Results two = SampleResults();
  two.auctions.push_back(auction);
  two.auctions[1].number = 2;
  const SessionMeasures s = MeasureSession(two);
  EXPECT_EQ(s.market.revenue, 45000);
  EXPECT_DOUBLE_EQ(*s.market.efficiency(), *m.efficiency());
  EXPECT_EQ(s.surplus.at("Rash"), -10600);
  EXPECT_EQ(s.surplus.at("CLogin"), 600);
}

TEST(Measures, AGoodLeftUnsoldWhileWorthItsReserveIsALoss) {
  AuctionResult auction = SampleResults().auctions[0];
  auction.buyers.push_back({"Otto", false, 0, 0, 0, 0, 0, false, false, "value"});
  auction.goods[2].values.push_back({3, 1600});  // Otto's: exactly the reserve
  EXPECT_TRUE(MeasureGood(auction.goods[2], auction.buyers).counts);
  EXPECT_DOUBLE_EQ(*MeasureAuction(auction).efficiency(),
                   (2300.0 + 21000.0) / (2600.0 + 27000.0 + 1600.0));
  // A winner tied with the top value counts as the top value's buyer.
  auction.goods[1].values[1].value = 27000;
  EXPECT_TRUE(MeasureGood(auction.goods[1], auction.buyers).won_by_top);
  EXPECT_DOUBLE_EQ(*MeasureAuction(auction).top_value_share(), 0.5);
}

TEST(Measures, NothingToMeasureGivesNoRatio) {
  const MarketMeasures none = MeasureAuction(AuctionResult{});
  EXPECT_FALSE(none.efficiency().has_value());
  EXPECT_FALSE(none.top_value_share().has_value());
  EXPECT_FALSE(none.price_over_top().has_value());
}

}  // namespace
}  // namespace market
