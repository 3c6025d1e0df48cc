// A session's results JSON (as the market writes it: engine/results_json.h, with the servers'
// participants and bids) read into what the session report draws, in either form: the compact
// one ("format": 2, tick bids packed with their buyers as indices) or the older one without
// "format" (tick bids as rows naming their buyer). Reading checks every field it uses; fields it
// does not use may be absent or anything.
#ifndef REPORT_SESSION_DATA_H_
#define REPORT_SESSION_DATA_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace report {

// Input the report cannot be made from; what() is one line naming the fault.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct SessionBid {
  std::string buyer;
  int64_t price = 0;
  int64_t at_us = 0;        // when it arrived, on the session's clock
  int64_t response_us = 0;  // after the price was announced
};

// One price the good's clock announced.
struct ClockPoint {
  int64_t at_us = 0;  // on the session's clock
  int64_t price = 0;
  bool collision = false;  // a rise after a collision; otherwise an offer
};

struct SessionGood {
  int auction = 0;
  std::string id, kind, seller;
  int round = 0;
  int64_t initial = 0, reserve = 0;
  std::string outcome;  // sold, unsold, pending, interrupted
  std::string buyer;    // sold only
  int64_t price = 0;    // sold only
  int collisions = 0;
  int sanctions = 0;
  std::vector<SessionBid> bids;  // the participants' bids from the results' bids, in arrival order
  // The good's price clock, when the results record it (older results do not): every price
  // announced, every bid that took part in a tick from any buyer (response_us: after the price
  // it answered), and when the good ended (sold, out of the market or interrupted).
  bool has_clock = false;
  std::vector<ClockPoint> clock;
  std::vector<SessionBid> tick_bids;
  std::optional<int64_t> ended_us;
};

struct SessionBuyer {
  std::string name;
  std::string strategy;
  bool participant = false;
  int purchases = 0;
  int64_t spend = 0, benefit = 0, fines = 0, surplus = 0;
  int sanctions = 0;
  bool expelled = false, left = false;
};

// A measures object's scalar entries, in document order, printed as they stand ("-" for null).
using MeasureList = std::vector<std::pair<std::string, std::string>>;

struct SessionAuction {
  int number = 0;
  std::vector<SessionGood> goods;
  std::vector<SessionBuyer> buyers;
  MeasureList measures;
};

struct SessionData {
  std::string seed;  // as written
  bool completed = false;
  std::string ended_early;
  std::vector<SessionAuction> auctions;
  MeasureList measures;                                  // the session's
  std::vector<std::pair<std::string, int64_t>> surplus;  // the session's, per buyer
  size_t bids = 0;                                       // bids attached to goods
  size_t unmatched_bids = 0;                             // bids naming no good of the results
  size_t tick_bids = 0;                                  // over every good's clock
};

// The most tick bids a session's report draws, over all its goods: twice the largest valid
// scenario's (about 4.6 million) when every rival bids only at its value. More come only from
// goods offered again after thousands of voided sales, each bid on by a crowd; such results are
// refused rather than read into gigabytes.
inline constexpr size_t kMaxTickBids = 10'000'000;

// Parses the results; throws InputError on malformed JSON, a missing or mistyped field, more
// than `max_tick_bids` tick bids, or a form newer than this reader knows.
SessionData ReadSessionResults(std::string_view json, size_t max_tick_bids = kMaxTickBids);

}  // namespace report

#endif  // REPORT_SESSION_DATA_H_
