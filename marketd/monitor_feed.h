// The live monitor's picture of the market, built from what the market makes public (the lines
// every buyer receives and the bids it records): the auction and round, the good under the hammer
// and its price, the buyers and what each has bought, and the last events.
//
// What a caller may rely on:
// - Every call returns the event it made as one JSON object on one line (no newline inside), with
//   "seq" (1, 2, 3, ... in the order of the calls) and "type"; text from outside (logins, goods)
//   is JSON-escaped, and bytes that are not UTF-8 are replaced, never thrown on.
// - State() is a JSON snapshot of the picture after the last event ("seq" is that event's), with
//   at most kRecentEvents recent events: a viewer joining mid-session starts from it.
// - Memory is bounded by the scenario (its buyers and goods) and kRecentEvents.
// - Nothing here sees a password: nothing but public lines and logins comes in.
#ifndef MARKETD_MONITOR_FEED_H_
#define MARKETD_MONITOR_FEED_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace marketd {

class MonitorFeed {
 public:
  static constexpr size_t kRecentEvents = 40;

  // A line the market sent to every buyer.
  std::string OnBroadcast(const std::string& line);
  // The market recorded a bid of this buyer (at the price in force, if a good is on offer).
  std::string OnBid(const std::string& login);
  // The session is over.
  std::string OnFinished();

  std::string State() const;
  int64_t seq() const { return seq_; }

 private:
  struct Purchase {
    std::string good;
    int64_t price = 0;
  };
  struct Buyer {
    bool present = false;
    std::vector<Purchase> bought;
  };
  std::string Record(nlohmann::json event);

  int64_t seq_ = 0;
  int64_t auction_ = 0;
  int64_t round_ = 0;
  std::string good_;  // the good under the hammer; empty: none
  std::string good_kind_;
  std::string good_seller_;
  int64_t initial_ = 0;
  int64_t price_ = 0;
  int64_t offers_ = 0;  // prices announced (offers and collisions)
  bool closed_ = false;
  bool finished_ = false;
  std::vector<std::string> order_;  // logins in the order first seen
  std::map<std::string, Buyer> buyers_;
  std::deque<std::string> recent_;
};

}  // namespace marketd

#endif  // MARKETD_MONITOR_FEED_H_
