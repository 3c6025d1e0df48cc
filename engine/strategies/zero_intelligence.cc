#include "engine/strategies/zero_intelligence.h"

#include "engine/rng.h"

namespace market {

void ZeroIntelligenceBidder::BeginGood(int64_t value, int64_t reserve, uint64_t draw_seed) {
  Bidder::BeginGood(value, reserve, draw_seed);
  if (value < reserve) {
    limit_ = -1;
    return;
  }
  Rng rng(draw_seed);
  limit_ = rng.Between(reserve, value);
}

bool ZeroIntelligenceBidder::Bids(int64_t price, int64_t credit, int /*buyers*/) const {
  return price <= limit_ && price <= credit;
}

}  // namespace market
