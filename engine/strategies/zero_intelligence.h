// Zero-intelligence constrained bidding: for each good it draws a limit uniformly between the
// reserve (the lowest price the clock offers) and its value, and bids once the price is at or
// below that limit (within its credit).
#ifndef ENGINE_STRATEGIES_ZERO_INTELLIGENCE_H_
#define ENGINE_STRATEGIES_ZERO_INTELLIGENCE_H_

#include <memory>

#include "engine/strategies/bidder.h"

namespace market {

// Model: zero-intelligence constrained trader (random limit, never at a loss); no parameters.
class ZeroIntelligenceBidder : public Bidder {
 public:
  std::unique_ptr<Bidder> Clone() const override {
    return std::make_unique<ZeroIntelligenceBidder>(*this);
  }
  std::string_view name() const override { return "zero_intelligence"; }
  void BeginGood(int64_t value, int64_t reserve, uint64_t draw_seed) override;
  bool Bids(int64_t price, int64_t credit, int buyers) const override;

  int64_t limit() const { return limit_; }

 private:
  int64_t limit_ = -1;  // -1: no bid on this good (value below the reserve)
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_ZERO_INTELLIGENCE_H_
