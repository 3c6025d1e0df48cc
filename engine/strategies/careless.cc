#include "engine/strategies/careless.h"

namespace market {

bool CarelessBidder::Bids(int64_t price, int64_t /*credit*/, int /*buyers*/) const {
  return price <= value_;
}

}  // namespace market
