// What a session did: per auction, every good's outcome and every buyer's account; the commands
// the market ignored. The engine fills it as the session runs; the summary and the JSON file are
// written from it.
#ifndef ENGINE_RESULTS_H_
#define ENGINE_RESULTS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace market {

enum class Outcome {
  kPending,  // never came under the hammer: the session ended first
  kSold,
  kUnsold,  // left the market at its reserve price
};

struct GoodResult {
  std::string id;
  std::string kind;
  std::string seller;
  int round = 1;
  int64_t initial = 0;
  int64_t resale = 0;
  int64_t reserve = 0;
  Outcome outcome = Outcome::kPending;
  std::string buyer;  // kSold only
  int64_t price = 0;  // kSold only
  int collisions = 0;
  int sanctions = 0;  // sales of this good voided because the winner could not pay
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
  bool left = false;  // a participant that went away during the auction
};

struct AuctionResult {
  int number = 1;
  int rounds = 1;
  std::vector<GoodResult> goods;
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
  bool counted = true;      // false for a repeat from the same buyer within one tick
};

// A buyer that logged in, over the whole session.
struct ParticipantResult {
  std::string login;
  int64_t bids = 0;     // every "bid" line it sent, whatever became of it
  int64_t faults = 0;   // lines refused as no command at all (unknown or overlong)
  bool left = false;    // its connection ended before the market closed
  std::string dropped;  // why the market closed its connection, if it did
};

// Offer-to-bid response times of a set of counted bids, in microseconds (nearest rank).
struct ResponseStats {
  int64_t count = 0;
  int64_t median_us = 0;
  int64_t p99_us = 0;
};

// The stats of the counted bids of `buyer` (every buyer when empty).
ResponseStats ResponseTimes(const std::vector<BidRecord>& bids, std::string_view buyer = {});

// A connection the market closed on its own (too many faults, a full output queue).
struct DroppedConnection {
  std::string from;  // the login, or "(not admitted)"
  std::string reason;
};

struct IgnoredLine {
  std::string from;    // the login, or "(not admitted)"
  std::string line;    // cut to its first 80 bytes
  std::string reason;  // e.g. "unknown command"
};

struct Results {
  uint64_t seed = 0;
  int auctions_planned = 0;
  bool completed = false;               // the market reached closed_market
  std::string ended_early;              // why the session stopped before that, if it did
  std::vector<AuctionResult> auctions;  // the auctions opened, in order
  std::vector<IgnoredLine> ignored;     // the first kMaxIgnoredKept ignored lines
  int64_t ignored_total = 0;
  std::vector<ParticipantResult> participants;  // in the order they were first admitted
  std::vector<BidRecord> bids;                  // every bid at a price in force, in arrival order
  std::vector<DroppedConnection> dropped;       // the first kMaxIgnoredKept
  int64_t dropped_total = 0;
};

inline constexpr size_t kMaxIgnoredKept = 100;

// A human-readable account of the session: per auction a table of goods (sold to whom at what
// price, or unsold) and a table of buyers (purchases, spend, benefit, sanctions, fines, expelled),
// then the ignored commands, a table of the buyers that logged in (bids, response times, how they
// left) and the connections the market dropped. Ends with a newline.
std::string SummaryText(const Results& results);

// The same as one JSON document, ended by a newline; it also holds every bid with its arrival and
// response time, and each participant's response times (median and p99).
std::string ResultsJson(const Results& results);

// A JSON string literal for any bytes: quotes, backslashes and control characters escaped; bytes
// that are not valid UTF-8 are replaced by U+FFFD, so the document is always valid.
std::string JsonString(std::string_view text);

}  // namespace market

#endif  // ENGINE_RESULTS_H_
