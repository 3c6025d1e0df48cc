#include "engine/strategies/adaptive.h"

#include <algorithm>

namespace market {

bool AdaptiveBidder::Bids(int64_t price, int64_t credit, int /*buyers*/) const {
  return price <= value_ * (100 - shade_) / 100 && price <= credit;
}

void AdaptiveBidder::GoodEnded(GoodEnd end, int64_t price) {
  if (end == GoodEnd::kWon) {
    shade_ = std::min(shade_ + rate_, kMaxShade);
  } else if (end == GoodEnd::kLost && price < value_) {
    shade_ = std::max(shade_ - rate_, 0);
  }
}

}  // namespace market
