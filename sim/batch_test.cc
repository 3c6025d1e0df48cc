#include "sim/batch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace market::sim {
namespace {

GoodResult Sold(int64_t price, int64_t top) {
  GoodResult g;
  g.outcome = Outcome::kSold;
  g.buyer = "W";
  g.price = price;
  g.values = {{0, top}};  // W, the auction's one buyer
  return g;
}

TEST(Batch, MeanRevenuePerGoodAndItsStandardErrorCountUnsoldGoodsAsNothing) {
  Results r;
  AuctionResult a;
  a.goods = {Sold(100, 200), Sold(300, 400), GoodResult{}};  // the last never came up
  a.goods[2].outcome = Outcome::kUnsold;
  a.buyers = {{"W", false, 2, 400, 0, 0, 0, false, false, "truthful"}};
  r.auctions = {a};
  Batch batch;
  batch.Add(r);
  batch.Add(r);
  EXPECT_EQ(batch.sessions(), 2);
  EXPECT_EQ(batch.goods(), 6);
  EXPECT_DOUBLE_EQ(batch.mean_revenue(), 400.0 / 3);
  // revenues 100, 300, 0 twice: sample variance 56000 / 3 ... over 6 goods
  const double mean = 400.0 / 3;
  const double variance =
      (2 * (std::pow(100 - mean, 2) + std::pow(300 - mean, 2) + std::pow(mean, 2))) / 5;
  EXPECT_DOUBLE_EQ(batch.revenue_standard_error(), std::sqrt(variance / 6));
  EXPECT_DOUBLE_EQ(batch.surplus_by_strategy().at("truthful"), 200.0);  // (200-100)+(400-300)
  EXPECT_EQ(batch.market().revenue, 800);
  EXPECT_NE(batch.Text().find("revenue per good 133.33"), std::string::npos) << batch.Text();
}

}  // namespace
}  // namespace market::sim
