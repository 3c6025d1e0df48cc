// What a session did: per auction, every good's outcome and every buyer's account; the commands
// the market ignored. The engine writes it as the session runs and never reads it back; the
// summary (summary.h) and the JSON document (results_json.h) are written from it.
#ifndef ENGINE_RESULTS_H_
#define ENGINE_RESULTS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/good.h"
#include "engine/tick_bids.h"

namespace market {

enum class Outcome {
  kPending,  // never came under the hammer: the session ended first
  kSold,
  kUnsold,       // left the market at its reserve price
  kInterrupted,  // under the hammer when the session ended: neither sold nor unsold
};

// One price the clock announced for a good, in order: the first offer, each step down, each
// rise after a collision, and the same price offered again after a voided sale.
struct ClockStep {
  enum class Kind : uint8_t { kOffer, kCollision };
  int64_t at_us = 0;  // when it was announced, on the driver's clock (as BidRecord::at_us)
  int64_t price = 0;
  Kind kind = Kind::kOffer;
};

// What a good was worth to one buyer: a rival's private value, an agent's resale price. The
// buyer is an index, as a tick bid's (tick_bids.h): a session may hold millions of values, and a
// name per value would take most of its memory.
struct BuyerValue {
  uint32_t buyer = 0;  // index into the auction's buyers (AuctionResult::buyers)
  int64_t value = 0;
};

struct GoodResult {
  Good good;  // as planned
  Outcome outcome = Outcome::kPending;
  std::string buyer;  // kSold only
  int64_t price = 0;  // kSold only
  int collisions = 0;
  int sanctions = 0;  // sales of this good voided because the winner could not pay
  // Every buyer present when the good came under the hammer, in buyers-list order, with its value.
  std::vector<BuyerValue> values;
  // The good's price clock. Bounded by the scenario, not by the input: at most
  // (initial - reserve + max_collisions * collision_increment) / price_step + 1 offers (MostOffers,
  // which loading holds to kMaxOffersPerGood), plus max_collisions collisions, plus one offer
  // again per voided sale (each costs its buyer a sanction, and sanctions_before_expulsion of them
  // expel it), and at most one tick bid per buyer present in each tick that had a bid.
  std::vector<ClockStep> clock{};
  TickBids tick_bids{};
  std::optional<int64_t> ended_us{};  // when it was sold, left the market or was interrupted
};

struct BuyerResult {
  std::string name;
  bool participant = false;  // an agent that logged in, as opposed to a simulated rival
  int purchases = 0;
  int64_t spend = 0;    // sum of purchase prices
  int64_t benefit = 0;  // sum of resale price minus purchase price
  int sanctions = 0;
  int64_t fines = 0;
  bool expelled = false;
  bool left = false;     // a participant that went away during the auction
  std::string strategy;  // a rival's strategy name; "agent" for a participant
};

struct AuctionResult {
  int number = 1;
  int rounds = 1;
  std::vector<GoodResult> goods;    // in the order they come under the hammer
  std::vector<BuyerResult> buyers;  // participants first, then rivals, as in the buyers list
};

// A "bid" from a buyer of the auction while a price was in force. Times are on the driver's
// clock (the times it passes the engine), in microseconds.
struct BidRecord {
  int auction = 0;  // the auction's number
  std::string good;
  int64_t price = 0;  // the price in force
  std::string buyer;
  int64_t at_us = 0;        // when the bid arrived
  int64_t response_us = 0;  // how long after the price was announced
  bool counted = true;      // always true: only a buyer's first bid of a tick is stored
};

// A buyer that logged in, over the whole session.
struct ParticipantResult {
  std::string login;
  int64_t bids = 0;     // every "bid" line it sent, whatever became of it
  int64_t faults = 0;   // lines refused as no command at all (unknown or overlong)
  bool left = false;    // its connection ended before the market closed
  std::string dropped;  // why the market first closed its connection, if it did
  // On the stepped clock: the ticks that ended at their deadline while this agent was still busy
  // (decided by the clock rather than by its answer).
  int64_t late_ticks = 0;
};

// A connection the market closed on its own (too many faults, a full output queue).
struct DroppedConnection {
  std::string from;  // the login, or "(not admitted)"
  std::string reason;
};

struct IgnoredLine {
  std::string from;    // the login, or "(not admitted)"
  std::string line;    // an admission's password masked, cut to 80 bytes (commands.h)
  std::string reason;  // e.g. "unknown command"
};

// An admission refused for a wrong password or an unknown login, or while its login or its peer
// was cooling down after such failures. Never holds the password tried.
struct FailedLogin {
  std::string login;
  std::string peer;    // the connection's address as the driver gave it; empty for a pipe
  int64_t at_us = 0;   // on the driver's clock
  std::string reason;  // the denial sent
};

// How many ignored lines, and how many dropped connections, the results keep in full; beyond
// that only their totals grow, so a flood of bad input cannot grow the results without bound.
inline constexpr size_t kMaxIgnoredKept = 100;
inline constexpr size_t kMaxDroppedKept = 100;
inline constexpr size_t kMaxFailedLoginsKept = 100;

struct Results {
  uint64_t seed = 0;
  // The clock the driver ran the session on, as it said: "real", "stepped"; empty when not said.
  std::string clock;
  int auctions_planned = 0;
  bool completed = false;               // the market reached closed_market
  std::string ended_early;              // why the session stopped before that, if it did
  std::vector<AuctionResult> auctions;  // the auctions opened, in order
  std::vector<IgnoredLine> ignored;     // the first kMaxIgnoredKept ignored lines
  int64_t ignored_total = 0;
  std::vector<ParticipantResult> participants;  // in the order they were first admitted
  std::vector<BidRecord> bids;             // a buyer's first bid of each tick, in arrival order
  std::vector<DroppedConnection> dropped;  // the first kMaxDroppedKept
  int64_t dropped_total = 0;
  std::vector<FailedLogin> failed_logins;  // the first kMaxFailedLoginsKept
  int64_t failed_logins_total = 0;
};

}  // namespace market

#endif  // ENGINE_RESULTS_H_
