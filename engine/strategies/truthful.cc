#include "engine/strategies/truthful.h"

namespace market {

bool TruthfulBidder::Bids(int64_t price, int64_t credit, int /*buyers*/) const {
  return price <= value_ && price <= credit;
}

}  // namespace market
