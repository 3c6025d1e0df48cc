// Truthful bidding: bids as soon as the price is at or below its value and within its credit.
// Scenario: strategy = "truthful"; the market's older "value" strategy is this rule on values
// drawn as a percentage of the resale price.
#ifndef ENGINE_STRATEGIES_TRUTHFUL_H_
#define ENGINE_STRATEGIES_TRUTHFUL_H_

#include <memory>
#include <string_view>

#include "engine/strategies/bidder.h"

namespace market {

// Model: truthful (dominant in an ascending auction, naive in a descending one); no parameters.
class TruthfulBidder : public Bidder {
 public:
  std::unique_ptr<Bidder> Clone() const override { return std::make_unique<TruthfulBidder>(*this); }
  explicit TruthfulBidder(std::string_view name) : name_(name) {}
  std::string_view name() const override { return name_; }
  bool Bids(int64_t price, int64_t credit, int buyers) const override;

 private:
  std::string_view name_;  // "truthful" or "value": a literal
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_TRUTHFUL_H_
