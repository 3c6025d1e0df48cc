#include "tournament/db/interval.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tournament {
namespace {

TEST(Interval, StudentTOnPerSessionValues) {
  const MeanInterval five = Interval95({1, 2, 3, 4, 5});
  EXPECT_EQ(five.n, 5u);
  EXPECT_DOUBLE_EQ(five.mean, 3.0);
  // sd = sqrt(2.5), t(4) = 2.776
  EXPECT_NEAR(five.half_width, 2.776 * std::sqrt(2.5) / std::sqrt(5.0), 1e-9);
  EXPECT_EQ(Interval95({7}).half_width, 0);
  EXPECT_EQ(Interval95({}).n, 0u);
  EXPECT_EQ(Interval95({4, 4, 4}).half_width, 0);
}

TEST(Interval, QuantileFallsTowardsTheNormal) {
  EXPECT_DOUBLE_EQ(StudentT975(1), 12.706);
  EXPECT_DOUBLE_EQ(StudentT975(29), 2.045);
  EXPECT_DOUBLE_EQ(StudentT975(40), 2.021);
  EXPECT_NEAR(StudentT975(50), 2.009, 0.002);
  EXPECT_NEAR(StudentT975(100000), 1.960, 0.001);
  for (size_t df = 1; df < 500; ++df) EXPECT_GE(StudentT975(df), StudentT975(df + 1)) << df;
}

TEST(Interval, OverlapIncludesTouching) {
  MeanInterval a{10, 5, 1};
  MeanInterval b{10, 7, 1};
  MeanInterval c{10, 7.5, 0.4};
  EXPECT_TRUE(Overlap(a, b));
  EXPECT_TRUE(Overlap(b, a));
  EXPECT_FALSE(Overlap(a, c));
}

TEST(Interval, FewerThanTwoValuesGiveNoIntervalAndMeetEveryOther) {
  const MeanInterval one = Interval95({5530});
  const MeanInterval none = Interval95({});
  const MeanInterval tight{10, 7.5, 0.4};
  EXPECT_FALSE(one.HasInterval());
  EXPECT_FALSE(none.HasInterval());
  EXPECT_TRUE(Interval95({1, 2}).HasInterval());
  for (const MeanInterval* m : {&one, &none}) {
    EXPECT_TRUE(Overlap(*m, tight));
    EXPECT_TRUE(Overlap(tight, *m));
  }
  EXPECT_TRUE(Overlap(one, Interval95({1})));
}

}  // namespace
}  // namespace tournament
