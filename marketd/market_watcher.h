// What the market makes public as it happens, for a watcher such as the live monitor. Never a
// password: the lines every buyer receives, and the logins of the buyers who bid.
#ifndef MARKETD_MARKET_WATCHER_H_
#define MARKETD_MARKET_WATCHER_H_

#include <string>

namespace marketd {

class MarketWatcher {
 public:
  virtual ~MarketWatcher() = default;
  // A line the market sent to every admitted buyer, in the order sent.
  virtual void Broadcast(const std::string& line) = 0;
  // An admitted buyer sent a bid (whatever becomes of it).
  virtual void Bid(const std::string& login) = 0;
  // The session is over: nothing more will come.
  virtual void Finished() = 0;
};

}  // namespace marketd

#endif  // MARKETD_MARKET_WATCHER_H_
