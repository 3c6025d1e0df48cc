#include "tournament/leaderboard.h"

#include <algorithm>

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

  Statement stored = db.Prepare("SELECT count(*) FROM session WHERE tournament = ?");
  stored.Bind(1, board.tournament);
  stored.Step();
  board.stored = stored.Int(0);

  // Per lineup entry, the per-session figures in lineup order. Sessions in key order, not in the
  // order they were written: the intervals' sums come out the same to the last bit however the
  // sessions were run (in parallel, resumed, in shards and merged).
  Statement rows = db.Prepare(
      "SELECT s.lineup, p.position, p.name, p.kind, p.strategy, p.surplus, p.purchases, p.spend, "
      "p.sanctions, p.expulsions, p.status, s.outcome, p.dropped != '' "
      "FROM participant p JOIN session s ON s.id = p.session "
      "WHERE s.tournament = ? ORDER BY s.lineup, p.position, s.scenario, s.seed");
  rows.Bind(1, board.tournament);
  std::vector<std::vector<double>> surpluses;
  while (rows.Step()) {
    if (board.standings.empty() || board.standings.back().lineup != rows.Text(0) ||
        board.standings.back().name != rows.Text(2)) {
      Standing s;
      s.lineup = rows.Text(0);
      s.name = rows.Text(2);
      s.kind = rows.Text(3);
      s.strategy = rows.Text(4);
      board.standings.push_back(std::move(s));
      surpluses.emplace_back();
    }
    Standing& s = board.standings.back();
    // A session without results says nothing of surplus; its agents' faults still count.
    if (rows.Text(11) != "failed") surpluses.back().push_back(static_cast<double>(rows.Int(5)));
    s.goods_won += rows.Int(6);
    s.spend += rows.Int(7);
    s.sanctions += rows.Int(8);
    s.expulsions += rows.Int(9);
    const std::string status = rows.Text(10);
    s.crashes += status == "crashed" ? 1 : 0;
    s.timeouts += status == "timeout" ? 1 : 0;
    s.no_login += status == "no_login" ? 1 : 0;
    s.dropped += rows.Int(12);
  }
  for (size_t i = 0; i < board.standings.size(); ++i) {
    board.standings[i].surplus = Interval95(surpluses[i]);
  }

  // Response times at the market, over every counted bid of the agent in the tournament: nearest
  // ranks (as market::ResponseTimes has them) picked by SQLite, which sorts within bounded memory
  // (spilling to a temporary file), so that no bid is held here however many were stored.
  const char* kCounted =
      "FROM bid b JOIN session s ON s.id = b.session "
      "WHERE s.tournament = ?1 AND s.lineup = ?2 AND b.buyer = ?3 AND b.counted = 1";
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
      if (!nth.Step()) throw DbError("database: a counted bid vanished");
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
      "SELECT s.scenario, s.outcome, s.revenue, s.goods_sold, s.goods_total, s.efficiency, "
      "s.top_value_share, s.price_over_top "
      "FROM session s WHERE s.tournament = ? ORDER BY s.scenario, s.seed, s.lineup");
  measures.Bind(1, board.tournament);
  // Per scenario, each measure's per-session values; a session where it is undefined (no good
  // counted) adds none.
  std::vector<std::vector<double>> revenues, efficiencies, top_shares, price_ratios;
  auto add = [&](std::vector<std::vector<double>>& to, int column) {
    if (!measures.IsNull(column)) to.back().push_back(measures.Real(column));
  };
  while (measures.Step()) {
    if (board.scenarios.empty() || board.scenarios.back().scenario != measures.Text(0)) {
      board.scenarios.push_back({});
      board.scenarios.back().scenario = measures.Text(0);
      revenues.emplace_back();
      efficiencies.emplace_back();
      top_shares.emplace_back();
      price_ratios.emplace_back();
    }
    ScenarioMeasures& m = board.scenarios.back();
    ++m.sessions;
    if (measures.Text(1) == "failed") {
      ++m.failed;
      continue;
    }
    revenues.back().push_back(static_cast<double>(measures.Int(2)));
    m.goods_sold += measures.Int(3);
    m.goods_total += measures.Int(4);
    add(efficiencies, 5);
    add(top_shares, 6);
    add(price_ratios, 7);
  }
  for (size_t i = 0; i < board.scenarios.size(); ++i) {
    board.scenarios[i].revenue = Interval95(revenues[i]);
    board.scenarios[i].efficiency = Interval95(efficiencies[i]);
    board.scenarios[i].top_value_share = Interval95(top_shares[i]);
    board.scenarios[i].price_over_top = Interval95(price_ratios[i]);
  }
  return board;
}

}  // namespace tournament
