#include "engine/rivals.h"

#include <gtest/gtest.h>

#include "engine/rng.h"

namespace market {
namespace {

TEST(Rivals, WhenEachStrategyBids) {
  const Rival value{"V", Strategy::kValue, 100, 100, 0};
  const Rival cautious{"C", Strategy::kCautious, 100, 100, 20};
  const Rival careless{"R", Strategy::kCareless, 100, 100, 0};
  const struct {
    const Rival& rival;
    int64_t valuation;
    int64_t price;
    int64_t credit;
    bool bids;
  } cases[] = {
      {value, 1000, 1000, 50000, true},      // at its valuation
      {value, 1000, 1001, 50000, false},     // above it
      {value, 1000, 900, 900, true},         // its whole credit
      {value, 1000, 900, 899, false},        // beyond its credit
      {cautious, 1000, 800, 50000, true},    // valuation less 20%
      {cautious, 1000, 801, 50000, false},   //
      {cautious, 1000, 800, 1600, true},     // half its credit
      {cautious, 1000, 800, 1599, false},    //
      {careless, 1000, 1000, 0, true},       // whatever its credit: it overspends
      {careless, 1000, 1001, 50000, false},  //
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rival.name + " at " + std::to_string(c.price) + " credit " +
                 std::to_string(c.credit));
    EXPECT_EQ(WantsToBid(c.rival, c.valuation, c.price, c.credit), c.bids);
  }
}

TEST(Rivals, ValuationIsDrawnWithinTheRangeFromTheSeed) {
  const Rival rival{"V", Strategy::kValue, 80, 120, 0};
  int64_t low = INT64_MAX;
  int64_t high = 0;
  for (uint64_t seed = 0; seed < 2000; ++seed) {
    const int64_t v = Valuation(rival, 1000, DeriveSeed(seed, {}));
    ASSERT_EQ(v, Valuation(rival, 1000, DeriveSeed(seed, {})));
    low = std::min(low, v);
    high = std::max(high, v);
  }
  EXPECT_EQ(low, 800);
  EXPECT_EQ(high, 1200);
}

}  // namespace
}  // namespace market
