#include "report/scale.h"

#include <gtest/gtest.h>

#include <cmath>

namespace report {
namespace {

TEST(NiceTicks, RoundStepsThatCoverTheData) {
  const struct {
    double low, high;
    int count;
    double first, last, step;
  } cases[] = {
      {0, 100, 6, 0, 100, 20},        {1400, 2600, 6, 1250, 2750, 250},
      {13, 87, 5, 0, 100, 20},        {-350, 1220, 8, -500, 1250, 250},
      {0.93, 1.27, 6, 0.9, 1.3, 0.1}, {500, 500, 6, 440, 560, 20},  // one value: a range around it
      {0, 0, 6, -1, 1, 0.5},          {100, 0, 6, 0, 100, 20},      // reversed bounds
  };
  for (const auto& c : cases) {
    const Ticks t = NiceTicks(c.low, c.high, c.count);
    SCOPED_TRACE(std::to_string(c.low) + " .. " + std::to_string(c.high));
    EXPECT_NEAR(t.low, c.first, 1e-9);
    EXPECT_NEAR(t.high, c.last, 1e-9);
    EXPECT_NEAR(t.step, c.step, 1e-9);
    ASSERT_FALSE(t.values.empty());
    EXPECT_NEAR(t.values.front(), t.low, 1e-9);
    EXPECT_NEAR(t.values.back(), t.high, 1e-9);
    EXPECT_LE(t.values.size(), static_cast<size_t>(c.count) + 2);
  }
}

TEST(NiceTicks, NonFiniteInputStillGivesAnAxis) {
  const Ticks t = NiceTicks(NAN, INFINITY, 6);
  EXPECT_TRUE(std::isfinite(t.low));
  EXPECT_TRUE(std::isfinite(t.high));
  EXPECT_LT(t.low, t.high);
}

TEST(LinearScale, MapsAndInverts) {
  const LinearScale y(1000, 3000, 250, 50);  // a price axis: up is smaller y
  EXPECT_DOUBLE_EQ(y(1000), 250);
  EXPECT_DOUBLE_EQ(y(3000), 50);
  EXPECT_DOUBLE_EQ(y(2000), 150);
  EXPECT_DOUBLE_EQ(y(4000), -50);
  EXPECT_DOUBLE_EQ(LinearScale(5, 5, 0, 100)(5), 50);  // no width: the middle
}

TEST(FormatNumber, ShortestFixedForm) {
  EXPECT_EQ(FormatNumber(2500), "2500");
  EXPECT_EQ(FormatNumber(0.8), "0.8");
  EXPECT_EQ(FormatNumber(1.0 / 3, 3), "0.333");
  EXPECT_EQ(FormatNumber(-0.0001), "0");
  EXPECT_EQ(FormatNumber(1e15), "1000000000000000");
  EXPECT_EQ(FormatNumber(NAN), "-");
}

}  // namespace
}  // namespace report
