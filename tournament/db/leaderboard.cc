#include "tournament/db/leaderboard.h"

#include <algorithm>

#include "tournament/db/totals.h"

namespace tournament {

Leaderboard ReadLeaderboard(Db& db, const std::string& which) {
  Leaderboard board;
  Statement t = db.Prepare(
      which.empty()
          ? "SELECT id, name, hash, sessions_planned FROM tournament ORDER BY id DESC LIMIT 1"
          : "SELECT id, name, hash, sessions_planned FROM tournament "
            "WHERE hash = ?1 OR CAST(id AS TEXT) = ?1");
  if (!which.empty()) t.Bind(1, which);
  if (!t.Step()) {
    throw DbError(which.empty() ? "the database holds no tournament"
                                : "the database holds no tournament " + which);
  }
  board.tournament = t.Int(0);
  board.name = t.Text(1);
  board.hash = t.Text(2);
  board.planned = t.Int(3);

  // Per lineup entry and per scenario, their running totals (totals.h): a few rows per entry,
  // however many sessions are stored.
  Statement entries = db.Prepare(
      "SELECT lineup, name, kind, strategy, scored, surplus_sum, surplus_squares, goods_won, "
      "spend, sanctions, expulsions, crashes, timeouts, no_login, dropped, late_ticks, "
      "late_sessions FROM entry_total "
      "WHERE tournament = ? ORDER BY lineup, position");
  entries.Bind(1, board.tournament);
  while (entries.Step()) {
    Standing s;
    s.lineup = entries.Text(0);
    s.name = entries.Text(1);
    s.kind = entries.Text(2);
    s.strategy = entries.Text(3);
    s.surplus = IntervalOfSums(entries.Int(4), entries.Int(5), entries.Int(6), 1);
    s.goods_won = entries.Int(7);
    s.spend = entries.Int(8);
    s.sanctions = entries.Int(9);
    s.expulsions = entries.Int(10);
    s.crashes = entries.Int(11);
    s.timeouts = entries.Int(12);
    s.no_login = entries.Int(13);
    s.dropped = entries.Int(14);
    s.late_ticks = entries.Int(15);
    s.late_sessions = entries.Int(16);
    board.standings.push_back(std::move(s));
  }

  // Response times at the market, over every bid of the agent stored in the tournament: nearest
  // ranks (as market::ResponseTimes has them) picked by SQLite, which sorts within bounded memory
  // (spilling to a temporary file), so that no bid is held here however many were stored.
  const char* kCounted =
      "FROM bid b JOIN session s ON s.id = b.session "
      "WHERE s.tournament = ?1 AND s.lineup = ?2 AND b.buyer = ?3";
  Statement count = db.Prepare(std::string("SELECT count(*) ") + kCounted);
  Statement nth = db.Prepare(std::string("SELECT b.response_us ") + kCounted +
                             " ORDER BY b.response_us LIMIT 1 OFFSET ?4");
  for (Standing& s : board.standings) {
    if (s.kind == "builtin") continue;
    count.Bind(1, board.tournament).Bind(2, s.lineup).Bind(3, s.name);
    count.Step();
    const int64_t n = count.Int(0);
    count.Reset();
    if (n == 0) continue;
    // The smallest time at least `percent` of the bids are not above.
    auto rank = [&](int64_t percent) {
      const int64_t r = std::max<int64_t>((n * percent + 99) / 100, 1);
      nth.Bind(1, board.tournament).Bind(2, s.lineup).Bind(3, s.name).Bind(4, r - 1);
      if (!nth.Step()) throw DbError("database: a bid vanished");
      const int64_t value = nth.Int(0);
      nth.Reset();
      return value;
    };
    s.response_median_us = rank(50);
    s.response_p99_us = rank(99);
  }

  // Ranks within each lineup, and which intervals meet.
  auto begin = board.standings.begin();
  while (begin != board.standings.end()) {
    auto end = std::find_if(begin, board.standings.end(),
                            [&](const Standing& s) { return s.lineup != begin->lineup; });
    std::stable_sort(begin, end, [](const Standing& a, const Standing& b) {
      return a.surplus.mean > b.surplus.mean;
    });
    int rank = 0;
    for (auto it = begin; it != end; ++it) it->rank = ++rank;
    for (auto a = begin; a != end; ++a) {
      for (auto b = begin; b != end; ++b) {
        if (a != b && Overlap(a->surplus, b->surplus)) a->overlaps.push_back(b->rank);
      }
    }
    begin = end;
  }

  Statement measures = db.Prepare(
      "SELECT scenario, sessions, failed, revenue_sum, revenue_squares, goods_sold, goods_total, "
      "efficiency_n, efficiency_sum, efficiency_squares, top_value_share_n, top_value_share_sum, "
      "top_value_share_squares, price_over_top_n, price_over_top_sum, price_over_top_squares "
      "FROM scenario_total WHERE tournament = ? ORDER BY scenario");
  measures.Bind(1, board.tournament);
  while (measures.Step()) {
    ScenarioMeasures m;
    m.scenario = measures.Text(0);
    m.sessions = measures.Int(1);
    m.failed = measures.Int(2);
    m.revenue = IntervalOfSums(m.sessions - m.failed, measures.Int(3), measures.Int(4), 1);
    m.goods_sold = measures.Int(5);
    m.goods_total = measures.Int(6);
    m.efficiency = IntervalOfSums(measures.Int(7), measures.Int(8), measures.Int(9), kMeasureUnit);
    m.top_value_share =
        IntervalOfSums(measures.Int(10), measures.Int(11), measures.Int(12), kMeasureUnit);
    m.price_over_top =
        IntervalOfSums(measures.Int(13), measures.Int(14), measures.Int(15), kMeasureUnit);
    board.stored += m.sessions;
    board.scenarios.push_back(std::move(m));
  }
  return board;
}

}  // namespace tournament
