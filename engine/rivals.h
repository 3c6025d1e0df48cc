// The simulated rival buyers: how each strategy values a good and when it bids. Rivals decide from
// the price in force alone, so their bids are known the moment a tick ends.
#ifndef ENGINE_RIVALS_H_
#define ENGINE_RIVALS_H_

#include <cstdint>
#include <string>

#include "engine/scenario.h"

namespace market {

struct Rival {
  std::string name;
  Strategy strategy = Strategy::kValue;
  int valuation_low = 80;  // percent of a good's resale price
  int valuation_high = 110;
  int margin = 20;
};

// What the rival would pay for a good with this resale price: resale times a percentage drawn
// uniformly from the rival's valuation range with the given seed. Never negative.
int64_t Valuation(const Rival& rival, int64_t resale, uint64_t draw_seed);

// Whether the rival bids at `price`, valuing the good at `valuation`, with `credit` left in the
// auction:
// - value: price <= valuation and price <= credit;
// - cautious: price <= valuation less its margin percent, and price <= half its credit;
// - careless: price <= valuation, whatever its credit.
bool WantsToBid(const Rival& rival, int64_t valuation, int64_t price, int64_t credit);

}  // namespace market

#endif  // ENGINE_RIVALS_H_
