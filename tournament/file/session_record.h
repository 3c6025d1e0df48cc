// What the database keeps of one session: its identity, outcome, every good, every lineup entry's
// figures and every bid the market recorded from an agent.
#ifndef TOURNAMENT_SESSION_RECORD_H_
#define TOURNAMENT_SESSION_RECORD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tournament {

// Which session: unique in a tournament.
struct SessionKey {
  std::string scenario;  // the path as resolved from the tournament file
  uint64_t seed = 0;
  std::string lineup;
  bool operator<(const SessionKey& o) const {
    return std::tie(scenario, seed, lineup) < std::tie(o.scenario, o.seed, o.lineup);
  }
};

struct GoodRow {
  int auction = 0;
  std::string id, kind, seller;
  int round = 0;
  int64_t initial = 0, resale = 0, reserve = 0;
  std::string outcome = "pending";  // pending, sold, unsold, interrupted
  std::optional<std::string> buyer;
  std::optional<int64_t> price;
  int collisions = 0;
  int sanctions = 0;
  // What the good was worth to each buyer present when it came under the hammer, in the market's
  // buyers order: a rival's private value, an agent's resale price.
  std::vector<std::pair<std::string, int64_t>> values;
};

struct ParticipantRow {
  std::string name;      // the rival's name or the agent's login
  std::string kind;      // "builtin", "buyer", "command"
  std::string strategy;  // the strategy, "buyer" or the command line
  int purchases = 0;
  int64_t spend = 0;
  int64_t benefit = 0;  // resale less price over the goods won
  int64_t fines = 0;
  // Benefit less fines: what the entry gained in the session. Named for the figure the market
  // will report per buyer; until then it is computed here.
  int64_t surplus = 0;
  int sanctions = 0;
  int expulsions = 0;  // auctions it was expelled from
  // Agents only, as the market saw them.
  bool logged_in = false;
  int64_t bids = 0;
  int64_t faults = 0;
  bool left = false;
  std::string dropped;
  int64_t response_count = 0;
  std::optional<int64_t> response_median_us, response_p99_us;
  // Agents only, as the runner saw the process: "ok", "crashed" (killed by a signal or a
  // non-zero exit), "timeout" (still running at the deadline), "no_login".
  std::string status;
  std::optional<int> exit_code;    // its exit status, when it exited
  std::optional<int> exit_signal;  // the signal that ended it
  std::string stderr_tail;
  // On the stepped clock, the ticks that ended at their deadline while the entry's agent was still
  // busy (the session was then not decided by its answers alone); empty on other clocks.
  std::optional<int64_t> late_ticks;
};

struct BidRow {
  int auction = 0;
  std::string good;
  int64_t price = 0;
  std::string buyer;
  int64_t at_us = 0;
  int64_t response_us = 0;
};

struct SessionRecord {
  SessionKey key;
  // The session's place in the tournament's canonical order (shard.h), from which its row id is
  // made: the same session has the same id in every file of the tournament, whatever order the
  // sessions ended in. Empty only for records made outside a plan, which take the next free id.
  std::optional<int64_t> position;
  std::string scenario_hash;
  bool virtual_time = true;
  // "virtual" (every participant built in), "stepped" or "real".
  std::string clock = "virtual";
  // Wall-clock start (Unix microseconds) and length; a virtual-time session records no start and
  // its length on the virtual clock, so reruns give the same row.
  std::optional<int64_t> started_us;
  int64_t duration_us = 0;
  // "completed", "ended_early" (the market stopped before its close), "failed" (no results).
  std::string outcome;
  std::string detail;   // why it ended early or failed
  int64_t revenue = 0;  // sum of the prices of the goods sold
  // The market's session measures (engine/measures.h); empty when no good counts for them.
  std::optional<double> efficiency;       // allocative efficiency
  std::optional<double> top_value_share;  // of the goods sold, bought by a highest-value buyer
  std::optional<double> price_over_top;   // mean price over the highest value, goods sold
  std::vector<GoodRow> goods;
  std::vector<ParticipantRow> participants;  // in lineup order
  std::vector<BidRow> bids;
};

}  // namespace tournament

#endif  // TOURNAMENT_SESSION_RECORD_H_
