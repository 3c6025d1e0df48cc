#include "engine/strategies/cautious.h"

namespace market {

bool CautiousBidder::Bids(int64_t price, int64_t credit, int /*buyers*/) const {
  return price <= value_ * (100 - margin_) / 100 && price <= credit / 2;
}

}  // namespace market
