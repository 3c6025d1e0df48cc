// Careless bidding: bids at its value whatever its credit, so it overspends and draws sanctions.
#ifndef ENGINE_STRATEGIES_CARELESS_H_
#define ENGINE_STRATEGIES_CARELESS_H_

#include <memory>

#include "engine/strategies/bidder.h"

namespace market {

// Model: truthful without a budget constraint (the market's sanction test case); no parameters.
class CarelessBidder : public Bidder {
 public:
  std::unique_ptr<Bidder> Clone() const override { return std::make_unique<CarelessBidder>(*this); }
  std::string_view name() const override { return "careless"; }
  bool Bids(int64_t price, int64_t credit, int buyers) const override;
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_CARELESS_H_
