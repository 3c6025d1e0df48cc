#include "engine/tick_bids.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/packed_numbers.h"

namespace market {

// How a failed comparison shows a bid (found by argument-dependent lookup).
void PrintTo(const TickBid& b, std::ostream* os) {
  *os << "{" << b.at_us << ", " << b.price << ", " << b.buyer << "}";
}

namespace {

TEST(TickBids, EveryBidComesBackInOrderWithARowPerRunOfOneTimeAndPrice) {
  const struct {
    const char* name;
    std::vector<TickBid> bids;
    size_t rows;
  } cases[] = {
      {"none", {}, 0},
      {"a participant's bid, then two rivals decided together, then a rise",
       {{103'000, 1000, 0},
        {120'000, 1000, 1},
        {120'000, 1000, 2},
        {139'000, 1150, 0},
        {139'000, 1150, 2}},
       3},
      {"the same time at another price starts a row", {{5, 10, 1}, {5, 11, 2}, {5, 10, 3}}, 3},
      {"the same price at another time starts a row", {{5, 10, 1}, {6, 10, 2}}, 2},
      {"indices far apart, and one going down within a row",
       {{7, 20, 999}, {7, 20, 3}, {7, 20, 998}, {7, 20, 0}},
       1},
      {"the largest index and price", {{1, 2'000'000'000, 4'294'967'295u}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TickBids bids;
    for (const TickBid& bid : c.bids) bids.Add(bid);
    EXPECT_EQ(bids.Unpacked(), c.bids);
    EXPECT_EQ(bids.size(), c.bids.size());
    EXPECT_EQ(bids.empty(), c.bids.empty());
    ASSERT_EQ(bids.rows().size(), c.rows);
    // Each row's text is the results file's: the first index, then the differences.
    size_t at = 0;
    for (size_t r = 0; r < bids.rows().size(); ++r) {
      const std::vector<int64_t> steps = UnpackNumbers(bids.buyers(r)).value();
      ASSERT_FALSE(steps.empty());
      int64_t buyer = 0;
      for (const int64_t step : steps) {
        buyer += step;
        const TickBid& want = c.bids.at(at++);
        EXPECT_EQ(bids.rows()[r].at_us, want.at_us);
        EXPECT_EQ(bids.rows()[r].price, want.price);
        EXPECT_EQ(buyer, want.buyer);
      }
    }
    EXPECT_EQ(at, c.bids.size());
  }
}

TEST(TickBids, ACrowdBiddingInOneTickTakesAByteABid) {
  TickBids bids;
  for (uint32_t b = 0; b < 999; ++b) bids.Add({42, 700, b});
  ASSERT_EQ(bids.rows().size(), 1u);
  EXPECT_EQ(bids.bytes(), sizeof(TickBids::Row) + 999);
  const TickBids listed = {{42, 700, 0}, {42, 700, 1}};
  EXPECT_EQ(listed.buyers(0), "AC");  // 0, then a difference of 1
}

}  // namespace
}  // namespace market
