#include "engine/rivals.h"

#include "engine/rng.h"

namespace market {

int64_t Valuation(const Rival& rival, int64_t resale, uint64_t draw_seed) {
  Rng rng(draw_seed);
  const int64_t percent = rng.Between(rival.valuation_low, rival.valuation_high);
  return resale * percent / 100;
}

bool WantsToBid(const Rival& rival, int64_t valuation, int64_t price, int64_t credit) {
  switch (rival.strategy) {
    case Strategy::kValue:
      return price <= valuation && price <= credit;
    case Strategy::kCautious:
      return price <= valuation * (100 - rival.margin) / 100 && price <= credit / 2;
    case Strategy::kCareless:
      return price <= valuation;
  }
  return false;
}

}  // namespace market
