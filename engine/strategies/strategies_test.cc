// Each strategy's rule on its boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "engine/rng.h"
#include "engine/strategies/adaptive.h"
#include "engine/strategies/careless.h"
#include "engine/strategies/cautious.h"
#include "engine/strategies/equilibrium.h"
#include "engine/strategies/truthful.h"
#include "engine/strategies/zero_intelligence.h"

namespace market {
namespace {

TEST(Strategies, EachBidsExactlyUpToItsLimitAndWithinItsCredit) {
  TruthfulBidder truthful("truthful");
  CautiousBidder cautious(20);
  CarelessBidder careless;
  EquilibriumBidder equilibrium;
  const struct {
    Bidder* bidder;
    int64_t value;
    int64_t reserve;
    int64_t price;
    int64_t credit;
    int buyers;
    bool bids;
  } cases[] = {
      {&truthful, 1000, 0, 1000, 50000, 3, true},       // at its value
      {&truthful, 1000, 0, 1001, 50000, 3, false},      // above it
      {&truthful, 1000, 0, 900, 900, 3, true},          // its whole credit
      {&truthful, 1000, 0, 900, 899, 3, false},         // beyond its credit
      {&cautious, 1000, 0, 800, 50000, 3, true},        // value less 20%
      {&cautious, 1000, 0, 801, 50000, 3, false},       //
      {&cautious, 1000, 0, 800, 1600, 3, true},         // half its credit
      {&cautious, 1000, 0, 800, 1599, 3, false},        //
      {&careless, 1000, 0, 1000, 0, 3, true},           // whatever its credit: it overspends
      {&careless, 1000, 0, 1001, 50000, 3, false},      //
      {&equilibrium, 900, 0, 600, 50000, 3, true},      // (n-1)/n of 900 with n = 3
      {&equilibrium, 900, 0, 601, 50000, 3, false},     //
      {&equilibrium, 900, 0, 450, 50000, 2, true},      // n = 2: half its value
      {&equilibrium, 900, 0, 451, 50000, 2, false},     //
      {&equilibrium, 900, 0, 810, 50000, 10, true},     // n = 10
      {&equilibrium, 900, 0, 811, 50000, 10, false},    //
      {&equilibrium, 1000, 0, 500, 499, 2, false},      // beyond its credit
      {&equilibrium, 1000, 500, 625, 50000, 2, true},   // reserve: 500 + (1000^2-500^2)/2000 off
      {&equilibrium, 1000, 500, 626, 50000, 2, false},  //
      {&equilibrium, 499, 500, 0, 50000, 2, false},     // value below the reserve: never
      {&equilibrium, 500, 500, 500, 50000, 2, true},    // value at the reserve: bids the reserve
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.bidder->name()) + " value " + std::to_string(c.value) + " reserve " +
                 std::to_string(c.reserve) + " at " + std::to_string(c.price) + " credit " +
                 std::to_string(c.credit) + " n " + std::to_string(c.buyers));
    c.bidder->BeginGood(c.value, c.reserve, 1);
    EXPECT_EQ(c.bidder->Bids(c.price, c.credit, c.buyers), c.bids);
  }
}

// b(v) = v - (v^n - r^n) / (n v^(n-1)), checked against the formula in that form.
TEST(Strategies, EquilibriumLimitWithAReserveFollowsTheBidFunction) {
  for (int n : {1, 2, 3, 5, 10}) {
    for (int64_t r : {0, 100, 400, 999}) {
      for (int64_t v : {std::max<int64_t>(r, 1), r + 1, int64_t{1000}, int64_t{7919}}) {
        const double vn = std::pow(static_cast<double>(v), n);
        const double rn = std::pow(static_cast<double>(r), n);
        const double b =
            static_cast<double>(v) - (vn - rn) / (n * std::pow(static_cast<double>(v), n - 1));
        const int64_t limit = EquilibriumBidder::Limit(v, r, n);
        EXPECT_NEAR(static_cast<double>(limit), b, 1.0) << "n " << n << " r " << r << " v " << v;
        EXPECT_GE(limit, r);
        EXPECT_LE(limit, v);
      }
    }
  }
  EXPECT_EQ(EquilibriumBidder::Limit(1000, 0, 1), 0);  // alone and no reserve: bids nothing up
}

TEST(Strategies, ZeroIntelligenceDrawsItsLimitBetweenTheReserveAndItsValue) {
  ZeroIntelligenceBidder zi;
  int64_t low = INT64_MAX;
  int64_t high = 0;
  for (uint64_t seed = 0; seed < 3000; ++seed) {
    zi.BeginGood(1200, 1000, DeriveSeed(seed, {}));
    const int64_t limit = zi.limit();
    low = std::min(low, limit);
    high = std::max(high, limit);
    EXPECT_TRUE(zi.Bids(limit, 50000, 2));
    EXPECT_FALSE(zi.Bids(limit + 1, 50000, 2));
    EXPECT_FALSE(zi.Bids(limit, limit - 1, 2));  // never beyond its credit
    zi.BeginGood(1200, 1000, DeriveSeed(seed, {}));
    EXPECT_EQ(zi.limit(), limit);  // the same draw for the same seed
  }
  EXPECT_EQ(low, 1000);
  EXPECT_EQ(high, 1200);
  zi.BeginGood(999, 1000, 5);  // worth less than the reserve to it: it never bids
  EXPECT_FALSE(zi.Bids(0, 50000, 2));
}

TEST(Strategies, AdaptiveShadesMoreAfterAWinAndLessAfterAProfitableLoss) {
  AdaptiveBidder adaptive(10, 5);
  adaptive.BeginGood(1000, 0, 1);
  EXPECT_TRUE(adaptive.Bids(900, 50000, 2));
  EXPECT_FALSE(adaptive.Bids(901, 50000, 2));
  adaptive.GoodEnded(GoodEnd::kWon, 900);
  EXPECT_EQ(adaptive.shade(), 15);
  adaptive.GoodEnded(GoodEnd::kLost, 1000);  // sold at its value or above: nothing to learn
  adaptive.GoodEnded(GoodEnd::kUnsold, 0);
  EXPECT_EQ(adaptive.shade(), 15);
  adaptive.GoodEnded(GoodEnd::kLost, 999);  // it could have had the good at a profit
  adaptive.GoodEnded(GoodEnd::kLost, 999);
  EXPECT_EQ(adaptive.shade(), 5);
  adaptive.GoodEnded(GoodEnd::kLost, 999);
  adaptive.GoodEnded(GoodEnd::kLost, 999);
  EXPECT_EQ(adaptive.shade(), 0);  // never below 0: never bids above its value
  for (int i = 0; i < 30; ++i) adaptive.GoodEnded(GoodEnd::kWon, 1);
  EXPECT_EQ(adaptive.shade(), AdaptiveBidder::kMaxShade);
  adaptive.BeginGood(1000, 0, 1);
  EXPECT_TRUE(adaptive.Bids(50, 50000, 2));
  EXPECT_FALSE(adaptive.Bids(51, 50000, 2));
  EXPECT_FALSE(adaptive.Bids(50, 49, 2));  // within its credit
}

}  // namespace
}  // namespace market
