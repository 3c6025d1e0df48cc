#include "engine/rivals.h"

#include <gtest/gtest.h>

namespace market {
namespace {

// Each strategy of a scenario plays by the class of its name, with the rival's parameters.
TEST(Rivals, EachStrategyGetsItsBidderWithItsParameters) {
  for (Strategy s :
       {Strategy::kValue, Strategy::kCautious, Strategy::kCareless, Strategy::kTruthful,
        Strategy::kEquilibrium, Strategy::kZeroIntelligence, Strategy::kAdaptive}) {
    Rival rival;
    rival.strategy = s;
    EXPECT_EQ(MakeBidder(rival)->name(), StrategyName(s));
  }
  Rival cautious;
  cautious.strategy = Strategy::kCautious;
  cautious.margin = 50;
  auto bidder = MakeBidder(cautious);
  bidder->BeginGood(1000, 0, 1);
  EXPECT_TRUE(bidder->Bids(500, 50000, 3));
  EXPECT_FALSE(bidder->Bids(501, 50000, 3));

  Rival adaptive;
  adaptive.strategy = Strategy::kAdaptive;
  adaptive.shade = 30;
  bidder = MakeBidder(adaptive);
  bidder->BeginGood(1000, 0, 1);
  EXPECT_TRUE(bidder->Bids(700, 50000, 3));
  EXPECT_FALSE(bidder->Bids(701, 50000, 3));
}

}  // namespace
}  // namespace market
