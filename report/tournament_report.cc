#include "report/tournament_report.h"

#include <algorithm>
#include <numeric>

#include "report/html_page.h"
#include "report/row_chart.h"
#include "report/scale.h"
#include "tournament/db/interval.h"

namespace report {
namespace {

std::string EntryLabel(const tournament::Standing& s) { return s.lineup + ": " + s.name; }

std::string Ranks(const std::vector<int>& ranks) {
  std::string out;
  for (int r : ranks) out += (out.empty() ? "" : ", ") + std::to_string(r);
  return out.empty() ? "-" : out;
}

// "none" for fewer than 2 values, as the leaderboard's table prints it.
std::string IntervalCell(const tournament::MeanInterval& m) {
  if (!m.HasInterval()) return "none";
  return FormatNumber(m.low(), 1) + " to " + FormatNumber(m.high(), 1);
}

std::string Leaderboard(const TournamentData& data) {
  HtmlTable table(
      "leaderboard",
      {"lineup", "rank", "entry", "kind", "strategy", "sessions", "mean surplus", "95% interval",
       "overlaps ranks", "goods won", "spend", "sanctions", "expulsions", "crashes", "time-outs"},
      {1, 5, 6, 9, 10, 11, 12, 13, 14});
  std::vector<ChartRow> rows;
  for (const tournament::Standing& s : data.board.standings) {
    table.AddRow(
        {s.lineup, std::to_string(s.rank), s.name, s.kind, s.strategy, std::to_string(s.surplus.n),
         FormatNumber(s.surplus.mean, 1), IntervalCell(s.surplus), Ranks(s.overlaps),
         std::to_string(s.goods_won), std::to_string(s.spend), std::to_string(s.sanctions),
         std::to_string(s.expulsions), std::to_string(s.crashes), std::to_string(s.timeouts)},
        "entry", {{"data-lineup", s.lineup}, {"data-name", s.name}});
    rows.push_back({EntryLabel(s),
                    s.surplus.mean,
                    s.surplus.low(),
                    s.surplus.high(),
                    s.surplus.HasInterval(),
                    {}});
  }
  return table.Html() +
         RowChart({"leaderboard-chart", "Mean surplus per session with its 95% interval",
                   "surplus per session", "entry", false},
                  rows);
}

std::string Distribution(const TournamentData& data) {
  std::vector<ChartRow> rows;
  for (size_t i = 0; i < data.board.standings.size(); ++i) {
    ChartRow row;
    row.label = EntryLabel(data.board.standings[i]);
    row.values = data.surplus[i];
    rows.push_back(std::move(row));
  }
  return RowChart({"surplus-distribution",
                   "Surplus in each session (box: quartiles and median; dots: sessions)",
                   "surplus in one session", "entry", true},
                  rows);
}

std::string Scenarios(const TournamentData& data) {
  std::vector<std::string> headers = {"scenario",     "sessions",   "failed", "mean revenue",
                                      "95% interval", "goods sold", "goods",  "share sold"};
  if (data.has_efficiency) headers.push_back("mean efficiency");
  HtmlTable table("scenarios", headers, {1, 2, 3, 5, 6, 7, 8});
  std::vector<ChartRow> revenue;
  std::vector<ChartRow> efficiency;
  for (size_t i = 0; i < data.board.scenarios.size(); ++i) {
    const tournament::ScenarioMeasures& m = data.board.scenarios[i];
    const ScenarioSessions& s = data.scenarios[i];
    std::vector<std::string> cells = {
        m.scenario,
        std::to_string(m.sessions),
        std::to_string(m.failed),
        FormatNumber(m.revenue.mean, 1),
        IntervalCell(m.revenue),
        std::to_string(m.goods_sold),
        std::to_string(m.goods_total),
        m.goods_total > 0
            ? FormatNumber(static_cast<double>(m.goods_sold) / static_cast<double>(m.goods_total),
                           3)
            : "-"};
    if (data.has_efficiency) {
      cells.push_back(
          s.efficiency.empty() ? "-" : FormatNumber(tournament::Interval95(s.efficiency).mean, 3));
      const tournament::MeanInterval e = tournament::Interval95(s.efficiency);
      if (e.n > 0) {
        efficiency.push_back(
            {m.scenario, e.mean, e.low(), e.high(), e.HasInterval(), s.efficiency});
      }
    }
    table.AddRow(cells, "scenario", {{"data-scenario", m.scenario}});
    revenue.push_back({m.scenario, m.revenue.mean, m.revenue.low(), m.revenue.high(),
                       m.revenue.HasInterval(), s.revenue});
  }
  std::string out = table.Html();
  out += RowChart({"scenario-revenue", "Revenue per session by scenario (mean, 95% interval)",
                   "revenue per session", "scenario", false},
                  revenue);
  out += RowChart({"scenario-revenue-distribution", "Revenue in each session by scenario",
                   "revenue in one session", "scenario", true},
                  revenue);
  if (!efficiency.empty()) {
    out +=
        RowChart({"scenario-efficiency", "Efficiency per session by scenario (mean, 95% interval)",
                  "efficiency", "scenario", false},
                 efficiency);
  }
  return out;
}

}  // namespace

std::string TournamentReport(const TournamentData& data, std::string_view source) {
  const tournament::Leaderboard& b = data.board;
  std::string body;
  body += Heading("Leaderboard");
  body +=
      "<p class=\"note\">Within a lineup, entries are ranked by mean surplus per session; "
      "\"overlaps ranks\" names the ranks whose 95% intervals meet this one's: rankings the "
      "sessions cannot tell apart.</p>\n";
  body += Leaderboard(data);
  body += Heading("Surplus per session");
  body += Distribution(data);
  body += Heading("Scenarios");
  body += Scenarios(data);
  const std::string subtitle =
      std::string(source) + ": tournament " + std::to_string(b.tournament) + " (" + b.hash + "), " +
      std::to_string(b.stored) + " of " + std::to_string(b.planned) + " sessions stored";
  return HtmlPage("Tournament " + b.name, subtitle, body);
}

}  // namespace report
