#include "engine/values.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/rng.h"

namespace market {
namespace {

struct Spread {
  int64_t low = INT64_MAX;
  int64_t high = INT64_MIN;
  double mean = 0;
  double sd = 0;
};

// Draws from 20000 seeds, checking each draw is reproducible for its seed.
Spread Draw(const ValueRule& rule, int64_t resale) {
  Spread s;
  constexpr int kDraws = 20000;
  double sum = 0;
  double squares = 0;
  for (uint64_t seed = 0; seed < kDraws; ++seed) {
    const int64_t v = DrawValue(rule, resale, DeriveSeed(seed, {}));
    EXPECT_EQ(v, DrawValue(rule, resale, DeriveSeed(seed, {})));
    s.low = std::min(s.low, v);
    s.high = std::max(s.high, v);
    sum += static_cast<double>(v);
    squares += static_cast<double>(v) * static_cast<double>(v);
  }
  s.mean = sum / kDraws;
  s.sd = std::sqrt(squares / kDraws - s.mean * s.mean);
  return s;
}

TEST(Values, ResalePercentIsTheMarketsOldDraw) {
  ValueRule rule;  // percent of resale, [80, 120]
  rule.low = 80;
  rule.high = 120;
  const Spread s = Draw(rule, 1000);
  EXPECT_EQ(s.low, 800);
  EXPECT_EQ(s.high, 1200);
  // The very draw the market has made since before values had rules of their own.
  for (uint64_t seed : {1u, 2u, 99u}) {
    Rng rng(seed);
    EXPECT_EQ(DrawValue(rule, 2300, seed), 2300 * rng.Between(80, 120) / 100);
  }
}

TEST(Values, FixedUniformAndClippedNormal) {
  ValueRule fixed;
  fixed.kind = ValueRule::Kind::kFixed;
  fixed.fixed = 777;
  const Spread f = Draw(fixed, 1000);
  EXPECT_EQ(f.low, 777);
  EXPECT_EQ(f.high, 777);

  ValueRule uniform;
  uniform.kind = ValueRule::Kind::kUniform;
  uniform.low = 0;
  uniform.high = 1000;
  const Spread u = Draw(uniform, 5);  // the resale price plays no part
  EXPECT_EQ(u.low, 0);
  EXPECT_EQ(u.high, 1000);
  EXPECT_NEAR(u.mean, 500, 4 * 289 / std::sqrt(20000.0));
  EXPECT_NEAR(u.sd, 1000 / std::sqrt(12.0), 5);

  ValueRule normal;
  normal.kind = ValueRule::Kind::kNormal;
  normal.mean = 5000;
  normal.sd = 1000;
  normal.low = 0;
  normal.high = 100'000;  // clipping out of reach: the plain normal
  const Spread n = Draw(normal, 1);
  EXPECT_NEAR(n.mean, 5000, 4 * 1000 / std::sqrt(20000.0));
  EXPECT_NEAR(n.sd, 1000, 20);

  normal.low = 4500;
  normal.high = 5200;  // clipped at both ends: the bounds are reached and never passed
  const Spread c = Draw(normal, 1);
  EXPECT_EQ(c.low, 4500);
  EXPECT_EQ(c.high, 5200);
}

TEST(Values, DrawsForDifferentSeedsAreIndependent) {
  ValueRule uniform;
  uniform.kind = ValueRule::Kind::kUniform;
  uniform.low = 0;
  uniform.high = 1'000'000;
  // Values of neighbouring goods or buyers (seeds differing in one part of the path) are
  // uncorrelated.
  double sxy = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
  constexpr int kN = 20000;
  for (uint64_t g = 0; g < kN; ++g) {
    const auto x = static_cast<double>(DrawValue(uniform, 0, DeriveSeed(5, {2, 0, g, 0})));
    const auto y = static_cast<double>(DrawValue(uniform, 0, DeriveSeed(5, {2, 0, g, 1})));
    sx += x, sy += y, sxy += x * y, sxx += x * x, syy += y * y;
  }
  const double cov = sxy / kN - (sx / kN) * (sy / kN);
  const double r = cov / std::sqrt((sxx / kN - sx * sx / kN / kN) * (syy / kN - sy * sy / kN / kN));
  EXPECT_LT(std::abs(r), 4 / std::sqrt(static_cast<double>(kN)));
}

}  // namespace
}  // namespace market
