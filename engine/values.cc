#include "engine/values.h"

#include <algorithm>
#include <cmath>

#include "engine/rng.h"

namespace market {
namespace {

// Uniform in (0, 1): 53 random bits, never exactly 0.
double Unit(Rng& rng) { return (static_cast<double>(rng.Next() >> 11) + 0.5) * 0x1.0p-53; }

// A standard normal draw (Box-Muller, one of the pair).
double StandardNormal(Rng& rng) {
  const double u = Unit(rng);
  const double v = Unit(rng);
  return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * 3.14159265358979323846 * v);
}

}  // namespace

int64_t DrawValue(const ValueRule& rule, int64_t resale, uint64_t draw_seed) {
  Rng rng(draw_seed);
  switch (rule.kind) {
    case ValueRule::Kind::kResalePercent:
      return std::max<int64_t>(0, resale * rng.Between(rule.low, rule.high) / 100);
    case ValueRule::Kind::kFixed:
      return rule.fixed;
    case ValueRule::Kind::kUniform:
      return rng.Between(rule.low, rule.high);
    case ValueRule::Kind::kNormal: {
      const double draw =
          static_cast<double>(rule.mean) + static_cast<double>(rule.sd) * StandardNormal(rng);
      const double clipped = std::clamp(std::round(draw), static_cast<double>(rule.low),
                                        static_cast<double>(rule.high));
      return static_cast<int64_t>(clipped);
    }
  }
  return 0;
}

}  // namespace market
