#include "tournament/db/totals.h"

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <tuple>

namespace tournament {
namespace {

struct EntryTotal {
  const EntryFigures* first = nullptr;  // its name, kind and strategy
  int64_t sessions = 0, scored = 0, surplus_sum = 0, surplus_squares = 0, goods_won = 0, spend = 0,
          sanctions = 0, expulsions = 0, crashes = 0, timeouts = 0, no_login = 0, dropped = 0,
          late_ticks = 0, late_sessions = 0;
};

struct Moments {
  int64_t n = 0, sum = 0, squares = 0;
  void Add(const std::optional<double>& m) {
    if (!m) return;
    ++n;
    sum += std::llround(*m * kMeasureUnit);
    squares += std::llround(*m * *m * kMeasureUnit);
  }
};

struct ScenarioTotal {
  int64_t sessions = 0, failed = 0, revenue_sum = 0, revenue_squares = 0, goods_sold = 0,
          goods_total = 0;
  Moments efficiency, top_value_share, price_over_top;
};

// SQL for a measure's three totals, from the session table's column.
std::string MeasureSums(const std::string& column) {
  const std::string live = "CASE WHEN outcome != 'failed' THEN " + column + " END";
  return "count(" + live + "), coalesce(sum(CAST(round(" + live + " * 1e9) AS INTEGER)), 0), " +
         "coalesce(sum(CAST(round(" + live + " * " + live + " * 1e9) AS INTEGER)), 0)";
}

}  // namespace

void CreateTotalsTables(Db& db) {
  db.Exec(R"sql(
CREATE TABLE entry_total(
  tournament INTEGER NOT NULL REFERENCES tournament(id),
  lineup TEXT NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  kind TEXT NOT NULL,
  strategy TEXT NOT NULL,
  sessions INTEGER NOT NULL,
  scored INTEGER NOT NULL,
  surplus_sum INTEGER NOT NULL,
  surplus_squares INTEGER NOT NULL,
  goods_won INTEGER NOT NULL,
  spend INTEGER NOT NULL,
  sanctions INTEGER NOT NULL,
  expulsions INTEGER NOT NULL,
  crashes INTEGER NOT NULL,
  timeouts INTEGER NOT NULL,
  no_login INTEGER NOT NULL,
  dropped INTEGER NOT NULL,
  late_ticks INTEGER NOT NULL,
  late_sessions INTEGER NOT NULL,
  PRIMARY KEY(tournament, lineup, position)) WITHOUT ROWID;
CREATE TABLE scenario_total(
  tournament INTEGER NOT NULL REFERENCES tournament(id),
  scenario TEXT NOT NULL,
  sessions INTEGER NOT NULL,
  failed INTEGER NOT NULL,
  revenue_sum INTEGER NOT NULL,
  revenue_squares INTEGER NOT NULL,
  goods_sold INTEGER NOT NULL,
  goods_total INTEGER NOT NULL,
  efficiency_n INTEGER NOT NULL,
  efficiency_sum INTEGER NOT NULL,
  efficiency_squares INTEGER NOT NULL,
  top_value_share_n INTEGER NOT NULL,
  top_value_share_sum INTEGER NOT NULL,
  top_value_share_squares INTEGER NOT NULL,
  price_over_top_n INTEGER NOT NULL,
  price_over_top_sum INTEGER NOT NULL,
  price_over_top_squares INTEGER NOT NULL,
  PRIMARY KEY(tournament, scenario)) WITHOUT ROWID;
)sql");
}

// sum += v * v, held at the largest int64 where the square or the sum would pass it: the
// leaderboard's figures come from the scenario's bounded prices, so only a damaged or hand-made
// row gets there, and it gets a defined (saturated) spread rather than a wrapped one.
static void AddSquare(int64_t& sum, int64_t v) {
  int64_t square = 0;
  if (__builtin_mul_overflow(v, v, &square) || __builtin_add_overflow(sum, square, &sum)) {
    sum = std::numeric_limits<int64_t>::max();
  }
}

void AddToTotals(Db& db, int64_t tournament, const std::vector<const PackedSession*>& sessions) {
  if (sessions.empty()) return;
  std::map<std::pair<std::string, size_t>, EntryTotal> entries;
  std::map<std::string, ScenarioTotal> scenarios;
  for (const PackedSession* p : sessions) {
    const SessionRecord& r = p->record;
    const bool failed = r.outcome == "failed";
    for (size_t i = 0; i < p->entries.size(); ++i) {
      const EntryFigures& f = p->entries[i];
      EntryTotal& e = entries[{r.key.lineup, i}];
      if (e.first == nullptr) e.first = &f;
      ++e.sessions;
      if (!failed) {
        ++e.scored;
        e.surplus_sum += f.surplus;
        AddSquare(e.surplus_squares, f.surplus);
      }
      e.goods_won += f.purchases;
      e.spend += f.spend;
      e.sanctions += f.sanctions;
      e.expulsions += f.expulsions;
      e.crashes += f.status == "crashed" ? 1 : 0;
      e.timeouts += f.status == "timeout" ? 1 : 0;
      e.no_login += f.status == "no_login" ? 1 : 0;
      e.dropped += f.dropped ? 1 : 0;
      e.late_ticks += f.late_ticks.value_or(0);
      e.late_sessions += f.late_ticks.value_or(0) > 0 ? 1 : 0;
    }
    ScenarioTotal& s = scenarios[r.key.scenario];
    ++s.sessions;
    if (failed) {
      ++s.failed;
      continue;
    }
    s.revenue_sum += r.revenue;
    AddSquare(s.revenue_squares, r.revenue);
    s.goods_sold += p->goods_sold;
    s.goods_total += p->goods_total;
    s.efficiency.Add(r.efficiency);
    s.top_value_share.Add(r.top_value_share);
    s.price_over_top.Add(r.price_over_top);
  }
  Statement entry = db.Prepare(
      "INSERT INTO entry_total VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) "
      "ON CONFLICT DO UPDATE SET sessions = sessions + excluded.sessions, "
      "scored = scored + excluded.scored, surplus_sum = surplus_sum + excluded.surplus_sum, "
      "surplus_squares = surplus_squares + excluded.surplus_squares, "
      "goods_won = goods_won + excluded.goods_won, spend = spend + excluded.spend, "
      "sanctions = sanctions + excluded.sanctions, expulsions = expulsions + excluded.expulsions, "
      "crashes = crashes + excluded.crashes, timeouts = timeouts + excluded.timeouts, "
      "no_login = no_login + excluded.no_login, dropped = dropped + excluded.dropped, "
      "late_ticks = late_ticks + excluded.late_ticks, "
      "late_sessions = late_sessions + excluded.late_sessions");
  for (const auto& [key, e] : entries) {
    entry.Bind(1, tournament).Bind(2, key.first).Bind(3, static_cast<int64_t>(key.second));
    entry.Bind(4, e.first->name).Bind(5, e.first->kind).Bind(6, e.first->strategy);
    int column = 7;
    for (int64_t v : {e.sessions, e.scored, e.surplus_sum, e.surplus_squares, e.goods_won, e.spend,
                      e.sanctions, e.expulsions, e.crashes, e.timeouts, e.no_login, e.dropped,
                      e.late_ticks, e.late_sessions}) {
      entry.Bind(column++, v);
    }
    entry.Step();
    entry.Reset();
  }
  std::string update;
  for (const char* c : {"sessions", "failed", "revenue_sum", "revenue_squares", "goods_sold",
                        "goods_total", "efficiency_n", "efficiency_sum", "efficiency_squares",
                        "top_value_share_n", "top_value_share_sum", "top_value_share_squares",
                        "price_over_top_n", "price_over_top_sum", "price_over_top_squares"}) {
    update += std::string(update.empty() ? "" : ", ") + c + " = " + c + " + excluded." + c;
  }
  Statement scenario = db.Prepare(
      "INSERT INTO scenario_total VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT DO "
      "UPDATE SET " +
      update);
  for (const auto& [name, s] : scenarios) {
    scenario.Bind(1, tournament).Bind(2, name);
    int column = 3;
    for (int64_t v : {s.sessions, s.failed, s.revenue_sum, s.revenue_squares, s.goods_sold,
                      s.goods_total, s.efficiency.n, s.efficiency.sum, s.efficiency.squares,
                      s.top_value_share.n, s.top_value_share.sum, s.top_value_share.squares,
                      s.price_over_top.n, s.price_over_top.sum, s.price_over_top.squares}) {
      scenario.Bind(column++, v);
    }
    scenario.Step();
    scenario.Reset();
  }
}

void RecountTotals(Db& db, int64_t tournament) {
  const std::string t = std::to_string(tournament);
  db.Exec("DELETE FROM entry_total WHERE tournament = " + t);
  db.Exec("DELETE FROM scenario_total WHERE tournament = " + t);
  db.Exec(
      "INSERT INTO entry_total SELECT s.tournament, s.lineup, p.position, min(p.name), "
      "min(p.kind), min(p.strategy), count(*), sum(s.outcome != 'failed'), "
      "coalesce(sum(CASE WHEN s.outcome != 'failed' THEN p.surplus END), 0), "
      "coalesce(sum(CASE WHEN s.outcome != 'failed' THEN p.surplus * p.surplus END), 0), "
      "sum(p.purchases), sum(p.spend), sum(p.sanctions), sum(p.expulsions), "
      "sum(p.status = 'crashed'), sum(p.status = 'timeout'), sum(p.status = 'no_login'), "
      "sum(p.dropped != ''), coalesce(sum(p.late_ticks), 0), sum(coalesce(p.late_ticks, 0) > 0) "
      "FROM participant p JOIN session s ON s.id = p.session "
      "WHERE s.tournament = " +
      t + " GROUP BY s.lineup, p.position");
  db.Exec(
      "INSERT INTO scenario_total SELECT tournament, scenario, count(*), sum(outcome = 'failed'), "
      "coalesce(sum(CASE WHEN outcome != 'failed' THEN revenue END), 0), "
      "coalesce(sum(CASE WHEN outcome != 'failed' THEN revenue * revenue END), 0), "
      "coalesce(sum(CASE WHEN outcome != 'failed' THEN goods_sold END), 0), "
      "coalesce(sum(CASE WHEN outcome != 'failed' THEN goods_total END), 0), " +
      MeasureSums("efficiency") + ", " + MeasureSums("top_value_share") + ", " +
      MeasureSums("price_over_top") + " FROM session WHERE tournament = " + t +
      " GROUP BY scenario");
}

}  // namespace tournament
