// Cautious bidding: bids only at its value less `margin` percent, and never above half its credit.
#ifndef ENGINE_STRATEGIES_CAUTIOUS_H_
#define ENGINE_STRATEGIES_CAUTIOUS_H_

#include <memory>

#include "engine/strategies/bidder.h"

namespace market {

// Model: fixed-margin shading with a budget reserve; parameters: margin (percent, 0 to 99).
class CautiousBidder : public Bidder {
 public:
  std::unique_ptr<Bidder> Clone() const override { return std::make_unique<CautiousBidder>(*this); }
  explicit CautiousBidder(int margin) : margin_(margin) {}
  std::string_view name() const override { return "cautious"; }
  bool Bids(int64_t price, int64_t credit, int buyers) const override;

 private:
  int margin_;
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_CAUTIOUS_H_
