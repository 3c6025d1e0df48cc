#include "engine/rng.h"

#include <map>
#include <set>

#include <gtest/gtest.h>

namespace market {
namespace {

TEST(Rng, SplitMix64ReferenceSequence) {
  // The published splitmix64 outputs for state 0.
  uint64_t state = 0;
  EXPECT_EQ(SplitMix64(&state), 0xe220a8397b1dcdafULL);
  EXPECT_EQ(SplitMix64(&state), 0x6e789e6aa1b965f4ULL);
  EXPECT_EQ(SplitMix64(&state), 0x06c45d188009454fULL);
}

TEST(Rng, BelowStaysInRangeCoversItAndIsEven) {
  Rng rng(42);
  EXPECT_EQ(rng.Below(1), 0u);
  std::map<uint64_t, int> counts;
  for (int i = 0; i < 100000; ++i) {
    const uint64_t x = rng.Below(10);
    ASSERT_LT(x, 10u);
    ++counts[x];
  }
  ASSERT_EQ(counts.size(), 10u);
  for (const auto& [value, count] : counts) {
    EXPECT_NEAR(count, 10000, 500) << value;  // over 10 standard deviations of slack
  }
  std::set<int64_t> seen;
  for (int i = 0; i < 1000; ++i) {
    const int64_t x = rng.Between(-3, 3);
    ASSERT_GE(x, -3);
    ASSERT_LE(x, 3);
    seen.insert(x);
  }
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_EQ(rng.Between(5, 5), 5);
}

TEST(Rng, DerivedSeedsAreReproducibleAndDistinct) {
  EXPECT_EQ(DeriveSeed(9, {1, 2, 3}), DeriveSeed(9, {1, 2, 3}));
  std::set<uint64_t> seeds;
  for (uint64_t seed : {0ULL, 1ULL}) {
    seeds.insert(DeriveSeed(seed, {}));
    for (uint64_t a = 0; a < 4; ++a) {
      seeds.insert(DeriveSeed(seed, {a}));
      for (uint64_t b = 0; b < 4; ++b) seeds.insert(DeriveSeed(seed, {a, b}));
    }
  }
  EXPECT_EQ(seeds.size(), 2u * (1 + 4 + 16));
  EXPECT_NE(DeriveSeed(1, {2, 3}), DeriveSeed(1, {3, 2}));
}

}  // namespace
}  // namespace market
