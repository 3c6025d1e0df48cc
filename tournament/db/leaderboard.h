// The leaderboard of a tournament, read from the database: per lineup entry its sessions, mean
// surplus per session with a 95% interval (interval.h), goods won, spend, sanctions, expulsions,
// crashes and time-outs, and for agents the response time at the market; per scenario the
// market's revenue, goods sold and its measures: allocative efficiency, the share of the goods
// sold that went to a highest-value buyer, and the price over the highest value. Within a lineup
// entries are ranked by mean surplus, and each names the ranks whose intervals overlap its own:
// those rankings the sessions cannot tell apart.
#ifndef TOURNAMENT_LEADERBOARD_H_
#define TOURNAMENT_LEADERBOARD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tournament/db/interval.h"
#include "tournament/db/sqlite_db.h"

namespace tournament {

struct Standing {
  std::string lineup;
  int rank = 0;  // 1-based within the lineup, by mean surplus
  std::string name;
  std::string kind;
  std::string strategy;
  MeanInterval surplus;  // per session: benefit less fines
  int64_t goods_won = 0;
  int64_t spend = 0;
  int64_t sanctions = 0;
  int64_t expulsions = 0;
  int64_t crashes = 0;
  int64_t timeouts = 0;
  int64_t no_login = 0;
  int64_t dropped = 0;  // sessions in which the market closed its connection (faults, flooding)
  // On the stepped clock: ticks that ended at their deadline while the agent was still busy, and
  // the sessions that had any (those were not decided by the agents' answers alone).
  int64_t late_ticks = 0;
  int64_t late_sessions = 0;
  std::optional<int64_t> response_median_us;  // agents with bids
  std::optional<int64_t> response_p99_us;
  std::vector<int> overlaps;  // ranks in the same lineup whose interval meets this one
};

struct ScenarioMeasures {
  std::string scenario;
  int64_t sessions = 0;
  int64_t failed = 0;  // no results
  MeanInterval revenue;
  int64_t goods_sold = 0;
  int64_t goods_total = 0;
  // The market's session measures (engine/measures.h), over the sessions where they are defined
  // (n counts those).
  MeanInterval efficiency;
  MeanInterval top_value_share;
  MeanInterval price_over_top;
};

struct Leaderboard {
  int64_t tournament = 0;
  std::string name;
  std::string hash;
  int64_t planned = 0;
  int64_t stored = 0;
  std::vector<Standing> standings;  // by lineup, then rank
  std::vector<ScenarioMeasures> scenarios;
};

// The tournament whose id or hash is `which`; empty: the one added last. Throws DbError when
// there is none.
Leaderboard ReadLeaderboard(Db& db, const std::string& which);

}  // namespace tournament

#endif  // TOURNAMENT_LEADERBOARD_H_
