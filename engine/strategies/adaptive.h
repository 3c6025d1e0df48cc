// Adaptive bidding: bids at its value less a shading percentage that it learns from its own
// results: after a win it shades `learning_rate` points more (it might have paid less), after
// losing a good sold below its value it shades that much less (it could have had it at a profit);
// shading stays within [0, 95] percent.
#ifndef ENGINE_STRATEGIES_ADAPTIVE_H_
#define ENGINE_STRATEGIES_ADAPTIVE_H_

#include <memory>

#include "engine/strategies/bidder.h"

namespace market {

// Model: win/loss reinforcement of a shading factor (a simple learning-direction rule);
// parameters: shade (starting percent, 0 to 95), learning_rate (points per good, 0 to 50).
class AdaptiveBidder : public Bidder {
 public:
  std::unique_ptr<Bidder> Clone() const override { return std::make_unique<AdaptiveBidder>(*this); }
  static constexpr int kMaxShade = 95;

  AdaptiveBidder(int shade, int learning_rate) : shade_(shade), rate_(learning_rate) {}
  std::string_view name() const override { return "adaptive"; }
  bool Bids(int64_t price, int64_t credit, int buyers) const override;
  void GoodEnded(GoodEnd end, int64_t price) override;

  int shade() const { return shade_; }

 private:
  int shade_;
  int rate_;
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_ADAPTIVE_H_
