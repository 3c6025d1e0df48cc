// What the market makes public as it happens, for a watcher such as the live monitor. Never a
// password: the lines every buyer receives, and the bids the market records.
#ifndef MARKETD_MARKET_WATCHER_H_
#define MARKETD_MARKET_WATCHER_H_

#include <string>

namespace marketd {

class MarketWatcher {
 public:
  virtual ~MarketWatcher() = default;
  // A line the market sent to every admitted buyer, in the order sent.
  virtual void Broadcast(const std::string& line) = 0;
  // A bid the market recorded, told when its tick is decided (before the outcome is broadcast), in
  // the order the bids arrived: the first bid of a buyer present in the tick. Repeats within a
  // tick, bids of an expelled buyer and the bid of a buyer gone before the tick was decided are
  // not told: a watcher hears no more bids than the results hold.
  virtual void Bid(const std::string& login) = 0;
  // The session is over: nothing more will come.
  virtual void Finished() = 0;
};

}  // namespace marketd

#endif  // MARKETD_MARKET_WATCHER_H_
