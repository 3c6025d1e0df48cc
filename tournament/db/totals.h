// The leaderboard's running totals: per lineup entry and per scenario, the count, sum and sum of
// squares of every figure the leaderboard shows (interval.h turns them into means and intervals),
// added in the same transaction as the sessions they count, so the leaderboard reads a few rows
// per entry however many sessions are stored. Every total is an integer, so the totals are the
// same whatever order the sessions were written in; the market's measures (fractions) are counted
// in units of kMeasureUnit.
//
//   entry_total(tournament, lineup, position, name, kind, strategy, sessions, scored,
//               surplus_sum, surplus_squares, goods_won, spend, sanctions, expulsions, crashes,
//               timeouts, no_login, dropped, late_ticks, late_sessions)
//     scored: sessions with results, over which the surplus is summed
//     late_ticks: the stepped clock's ticks ended by deadline while the entry's agent was busy,
//     summed; late_sessions: the sessions that had any
//   scenario_total(tournament, scenario, sessions, failed, revenue_sum, revenue_squares,
//                  goods_sold, goods_total, then for efficiency, top_value_share and
//                  price_over_top each: _n (sessions where it is defined), _sum, _squares)
#ifndef TOURNAMENT_TOTALS_H_
#define TOURNAMENT_TOTALS_H_

#include <cstdint>
#include <vector>

#include "tournament/db/packed_session.h"
#include "tournament/db/sqlite_db.h"

namespace tournament {

// A measure m counts as llround(m * kMeasureUnit), its square as llround(m * m * kMeasureUnit).
inline constexpr double kMeasureUnit = 1e9;

void CreateTotalsTables(Db& db);

// Adds the sessions to their tournament's totals; inside the transaction that wrote them.
void AddToTotals(Db& db, int64_t tournament, const std::vector<const PackedSession*>& sessions);

// Counts the tournament's totals again from every stored session (after a merge or an upgrade, and
// to check the running totals).
void RecountTotals(Db& db, int64_t tournament);

}  // namespace tournament

#endif  // TOURNAMENT_TOTALS_H_
