// A simulated rival's bidding rule, one object per rival for the whole session. For each good the
// engine tells it the good's value to it, asks at every tick whether it bids at the price in
// force, and tells it how the good ended; a rule that learns keeps what it learnt across goods.
// No rule bids above its credit except the careless one, whose purpose is to draw sanctions.
#ifndef ENGINE_STRATEGIES_BIDDER_H_
#define ENGINE_STRATEGIES_BIDDER_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

namespace market {

// What became of a good, from one bidder's side.
enum class GoodEnd { kWon, kLost, kUnsold };

class Bidder {
 public:
  virtual ~Bidder() = default;

  // A copy with everything it has learnt so far.
  virtual std::unique_ptr<Bidder> Clone() const = 0;

  // The strategy's name as a scenario spells it ("equilibrium").
  virtual std::string_view name() const = 0;

  // A good comes under the hammer: its value to this bidder, its reserve (the lowest price its
  // clock offers: the reserve price, raised to the price grid), and a seed for any draw the rule
  // makes for this good alone.
  virtual void BeginGood(int64_t value, int64_t reserve, uint64_t draw_seed) {
    (void)draw_seed;
    value_ = value;
    reserve_ = reserve;
  }

  // Whether it bids at `price` with `credit` left in the auction, `buyers` being present in it
  // (itself included).
  virtual bool Bids(int64_t price, int64_t credit, int buyers) const = 0;

  // The good ended: won by this bidder, sold to another at `price`, or unsold.
  virtual void GoodEnded(GoodEnd end, int64_t price) {
    (void)end;
    (void)price;
  }

 protected:
  int64_t value_ = 0;
  int64_t reserve_ = 0;
};

// A bidder held by value: copying the holder copies the bidder, state and all (an engine copied
// mid-session goes on exactly as the original would).
class BidderSlot {
 public:
  explicit BidderSlot(std::unique_ptr<Bidder> bidder) : bidder_(std::move(bidder)) {}
  BidderSlot(const BidderSlot& other) : bidder_(other.bidder_->Clone()) {}
  BidderSlot& operator=(const BidderSlot& other) {
    if (this != &other) bidder_ = other.bidder_->Clone();
    return *this;
  }
  BidderSlot(BidderSlot&&) = default;
  BidderSlot& operator=(BidderSlot&&) = default;
  ~BidderSlot() = default;

  Bidder* operator->() const { return bidder_.get(); }

 private:
  std::unique_ptr<Bidder> bidder_;
};

}  // namespace market

#endif  // ENGINE_STRATEGIES_BIDDER_H_
