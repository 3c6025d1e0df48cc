// Risk-neutral equilibrium bidding in a descending (first-price) auction with values uniform on
// [0, V]: with n buyers and reserve r it bids b(v) = v - (v^n - r^n) / (n v^(n-1)) for v >= r,
// which is (n-1)/n of its value when r = 0, and never bids when v < r.
#ifndef ENGINE_STRATEGIES_EQUILIBRIUM_H_
#define ENGINE_STRATEGIES_EQUILIBRIUM_H_

#include <memory>

#include "engine/strategies/bidder.h"

namespace market {

// Model: symmetric Bayes-Nash equilibrium, uniform values, reserve = the lowest price the good's
// clock offers (a reserve price between two prices of the grid sells at the one above, not at
// the nominal reserve); n = the buyers present in the auction's current buyers list; no
// parameters.
class EquilibriumBidder : public Bidder {
 public:
  std::unique_ptr<Bidder> Clone() const override {
    return std::make_unique<EquilibriumBidder>(*this);
  }
  std::string_view name() const override { return "equilibrium"; }
  bool Bids(int64_t price, int64_t credit, int buyers) const override;

  // b(value) for `buyers` bidders and the reserve, rounded down; -1 when it would not bid at all
  // (value below the reserve).
  static int64_t Limit(int64_t value, int64_t reserve, int buyers);
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_EQUILIBRIUM_H_
