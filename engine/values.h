// Private values: what a good is worth to a simulated rival, drawn per good and per buyer from
// the rival's rule and a seed of its own, so that every draw is reproducible and independent of
// every other.
#ifndef ENGINE_VALUES_H_
#define ENGINE_VALUES_H_

#include <cstdint>

namespace market {

struct ValueRule {
  enum class Kind {
    kResalePercent,  // the good's resale price times a percentage uniform in [low, high]
    kFixed,          // `fixed`, whatever the good
    kUniform,        // uniform in [low, high]
    kNormal,         // normal with `mean` and `sd`, rounded and clipped to [low, high]
  };
  Kind kind = Kind::kResalePercent;
  int64_t low = 80;
  int64_t high = 110;
  int64_t fixed = 0;
  int64_t mean = 0;
  int64_t sd = 0;
};

// The value drawn by the rule for a good with this resale price, from the seed alone. Never
// negative; for kResalePercent the same draw the market has always made.
int64_t DrawValue(const ValueRule& rule, int64_t resale, uint64_t draw_seed);

}  // namespace market

#endif  // ENGINE_VALUES_H_
