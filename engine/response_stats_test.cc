#include "engine/response_stats.h"

#include <gtest/gtest.h>

namespace market {
namespace {

TEST(ResponseStats, CountedBidsAtNearestRank) {
  const auto bids = [](std::vector<int64_t> times) {
    std::vector<BidRecord> records;
    for (int64_t t : times) records.push_back({1, "g1", 100, "Ann", 0, t, true});
    return records;
  };
  const struct {
    std::vector<int64_t> times;
    ResponseStats expected;
  } cases[] = {
      {{}, {0, 0, 0}},
      {{70}, {1, 70, 70}},
      {{40, 10, 30, 20}, {4, 20, 40}},
      {{5, 1, 4, 2, 3}, {5, 3, 5}},
  };
  for (const auto& c : cases) {
    const ResponseStats stats = ResponseTimes(bids(c.times), "Ann");
    EXPECT_EQ(stats.count, c.expected.count);
    EXPECT_EQ(stats.median_us, c.expected.median_us);
    EXPECT_EQ(stats.p99_us, c.expected.p99_us);
  }
  // A hundred bids 1..100: p99 is the 99th; repeats and other buyers are left out.
  std::vector<int64_t> hundred;
  for (int64_t t = 100; t >= 1; --t) hundred.push_back(t);
  std::vector<BidRecord> records = bids(hundred);
  records.push_back({1, "g1", 100, "Ann", 0, 100000, false});
  records.push_back({1, "g1", 100, "Bob", 0, 100000, true});
  const ResponseStats ann = ResponseTimes(records, "Ann");
  EXPECT_EQ(ann.count, 100);
  EXPECT_EQ(ann.median_us, 50);
  EXPECT_EQ(ann.p99_us, 99);
  EXPECT_EQ(ResponseTimes(records).count, 101);
  EXPECT_EQ(ResponseTimes(records).p99_us, 100);
}

}  // namespace
}  // namespace market
