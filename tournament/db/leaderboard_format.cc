#include "tournament/db/leaderboard_format.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "engine/text_table.h"
#include "tournament/file/terminal_text.h"

namespace tournament {
namespace {

std::string Fixed(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Fixed3(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

// What the table shows for a mean of fewer than two values.
constexpr const char* kNoInterval = "none";

std::string Interval(const MeanInterval& m) {
  return m.HasInterval() ? "[" + Fixed(m.low()) + ", " + Fixed(m.high()) + "]" : kNoInterval;
}

// A ratio's mean and interval for the table; blank when no session defines it.
std::string Ratio(const MeanInterval& m) { return m.n == 0 ? "" : Fixed3(m.mean); }
std::string RatioInterval(const MeanInterval& m) {
  if (m.n == 0) return "";
  return m.HasInterval() ? "[" + Fixed3(m.low()) + ", " + Fixed3(m.high()) + "]" : kNoInterval;
}

// An interval's bounds for CSV: blank without one.
std::vector<std::string> CsvBounds(const MeanInterval& m, std::string (*format)(double)) {
  if (!m.HasInterval()) return {"", ""};
  return {format(m.low()), format(m.high())};
}

std::string Ranks(const std::vector<int>& ranks) {
  std::string out;
  for (int r : ranks) out += (out.empty() ? "" : " ") + std::to_string(r);
  return out.empty() ? "-" : out;
}

// A long command line cut for the table (after escaping); CSV and JSON keep it whole.
std::string Cut(const std::string& text) {
  constexpr size_t kWidth = 40;
  const std::string shown = TerminalText(text);
  return shown.size() <= kWidth ? shown : shown.substr(0, kWidth - 3) + "...";
}

std::string Optional(const std::optional<int64_t>& value) {
  return value ? std::to_string(*value) : "";
}

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string LeaderboardTable(const Leaderboard& board) {
  std::string out = "Tournament " + TerminalText(board.name) + " (" + TerminalText(board.hash) +
                    "): " + std::to_string(board.stored) + " of " + std::to_string(board.planned) +
                    " sessions\n";
  std::string lineup;
  std::optional<market::TextTable> table;
  auto flush = [&] {
    if (table) out += "\nLineup " + TerminalText(lineup) + "\n" + table->Render("  ");
  };
  for (const Standing& s : board.standings) {
    if (!table || s.lineup != lineup) {
      flush();
      lineup = s.lineup;
      table.emplace(
          std::vector<std::string>{"rank", "entry", "strategy", "sessions", "mean_surplus",
                                   "95% interval", "overlaps", "goods", "spend", "sanctions",
                                   "expelled", "crashed", "timeouts", "no_login", "dropped",
                                   "resp_median_us", "resp_p99_us"},
          std::vector<bool>{true, false, false, true, true, false, false, true, true, true, true,
                            true, true, true, true, true, true});
    }
    table->Add(
        {std::to_string(s.rank), TerminalText(s.name), Cut(s.strategy), std::to_string(s.surplus.n),
         Fixed(s.surplus.mean), Interval(s.surplus), Ranks(s.overlaps), std::to_string(s.goods_won),
         std::to_string(s.spend), std::to_string(s.sanctions), std::to_string(s.expulsions),
         std::to_string(s.crashes), std::to_string(s.timeouts), std::to_string(s.no_login),
         std::to_string(s.dropped), Optional(s.response_median_us), Optional(s.response_p99_us)});
  }
  flush();
  // A stepped session is decided by its agents' answers alone only when no tick ran out on them.
  std::string late;
  for (const Standing& s : board.standings) {
    if (s.late_sessions == 0) continue;
    late += "  lineup " + TerminalText(s.lineup) + ", " + TerminalText(s.name) + ": " +
            std::to_string(s.late_ticks) + " late tick" + (s.late_ticks == 1 ? "" : "s") + " in " +
            std::to_string(s.late_sessions) + " of " + std::to_string(s.surplus.n) + " sessions\n";
  }
  if (!late.empty()) {
    out +=
        "\nNot deterministic: ticks that ended at their deadline while the agent was still busy\n" +
        late;
  }
  if (!board.scenarios.empty()) {
    market::TextTable measures(
        {"scenario", "sessions", "failed", "mean_revenue", "95% interval", "goods_sold", "goods",
         "efficiency", "95% interval", "top_share", "price/top"},
        {false, true, true, true, false, true, true, true, false, true, true});
    for (const ScenarioMeasures& m : board.scenarios) {
      measures.Add({TerminalText(m.scenario), std::to_string(m.sessions), std::to_string(m.failed),
                    Fixed(m.revenue.mean), Interval(m.revenue), std::to_string(m.goods_sold),
                    std::to_string(m.goods_total), Ratio(m.efficiency), RatioInterval(m.efficiency),
                    Ratio(m.top_value_share), Ratio(m.price_over_top)});
    }
    out += "\nMarkets\n" + measures.Render("  ");
  }
  out +=
      "\nIntervals: 95%, Student t on the per-session values; \"overlaps\" lists the ranks a\n"
      "ranking cannot be told apart from. Fewer than 2 sessions give no interval (\"none\"),\n"
      "which overlaps every rank.\n";
  return out;
}

std::string LeaderboardCsv(const Leaderboard& board) {
  std::string out =
      "lineup,rank,entry,kind,strategy,sessions,mean_surplus,ci95_low,ci95_high,overlaps,goods,"
      "spend,sanctions,expelled,crashed,timeouts,no_login,dropped,resp_median_us,resp_p99_us\n";
  for (const Standing& s : board.standings) {
    const std::vector<std::string> bounds = CsvBounds(s.surplus, Fixed);
    const std::vector<std::string> fields = {s.lineup,
                                             std::to_string(s.rank),
                                             s.name,
                                             s.kind,
                                             s.strategy,
                                             std::to_string(s.surplus.n),
                                             Fixed(s.surplus.mean),
                                             bounds[0],
                                             bounds[1],
                                             Ranks(s.overlaps),
                                             std::to_string(s.goods_won),
                                             std::to_string(s.spend),
                                             std::to_string(s.sanctions),
                                             std::to_string(s.expulsions),
                                             std::to_string(s.crashes),
                                             std::to_string(s.timeouts),
                                             std::to_string(s.no_login),
                                             std::to_string(s.dropped),
                                             Optional(s.response_median_us),
                                             Optional(s.response_p99_us)};
    for (size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + CsvField(fields[i]);
    out += '\n';
  }
  return out;
}

std::string MarketsCsv(const Leaderboard& board) {
  std::string out =
      "scenario,sessions,failed,mean_revenue,ci95_low,ci95_high,goods_sold,goods,efficiency,"
      "efficiency_n,efficiency_ci95_low,efficiency_ci95_high,top_value_share,"
      "top_value_share_ci95_low,top_value_share_ci95_high,price_over_top,price_over_top_ci95_low,"
      "price_over_top_ci95_high\n";
  auto ratio = [](const MeanInterval& m) {
    if (m.n == 0) return std::vector<std::string>{"", "", ""};
    const std::vector<std::string> bounds = CsvBounds(m, Fixed3);
    return std::vector<std::string>{Fixed3(m.mean), bounds[0], bounds[1]};
  };
  for (const ScenarioMeasures& m : board.scenarios) {
    const std::vector<std::string> revenue = CsvBounds(m.revenue, Fixed);
    std::vector<std::string> fields = {m.scenario,
                                       std::to_string(m.sessions),
                                       std::to_string(m.failed),
                                       Fixed(m.revenue.mean),
                                       revenue[0],
                                       revenue[1],
                                       std::to_string(m.goods_sold),
                                       std::to_string(m.goods_total)};
    const std::vector<std::string> efficiency = ratio(m.efficiency);
    fields.insert(fields.end(),
                  {efficiency[0], std::to_string(m.efficiency.n), efficiency[1], efficiency[2]});
    for (const MeanInterval* r : {&m.top_value_share, &m.price_over_top}) {
      const std::vector<std::string> figures = ratio(*r);
      fields.insert(fields.end(), figures.begin(), figures.end());
    }
    for (size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + CsvField(fields[i]);
    out += '\n';
  }
  return out;
}

std::string LeaderboardJson(const Leaderboard& board) {
  using Json = nlohmann::ordered_json;
  auto optional = [](const std::optional<int64_t>& v) { return v ? Json(*v) : Json(nullptr); };
  // [low, high], or null for fewer than two sessions.
  auto ci95 = [](const MeanInterval& m) {
    return m.HasInterval() ? Json{m.low(), m.high()} : Json(nullptr);
  };
  // A ratio measure: its mean, interval and how many sessions define it; nulls when none does.
  auto ratio = [&](const MeanInterval& m) {
    if (m.n == 0) return Json{{"mean", nullptr}, {"ci95", nullptr}, {"sessions", 0}};
    return Json{{"mean", m.mean}, {"ci95", ci95(m)}, {"sessions", m.n}};
  };
  Json standings = Json::array();
  for (const Standing& s : board.standings) {
    standings.push_back({{"lineup", s.lineup},
                         {"rank", s.rank},
                         {"entry", s.name},
                         {"kind", s.kind},
                         {"strategy", s.strategy},
                         {"sessions", s.surplus.n},
                         {"mean_surplus", s.surplus.mean},
                         {"ci95", ci95(s.surplus)},
                         {"overlaps", s.overlaps},
                         {"goods", s.goods_won},
                         {"spend", s.spend},
                         {"sanctions", s.sanctions},
                         {"expelled", s.expulsions},
                         {"crashed", s.crashes},
                         {"timeouts", s.timeouts},
                         {"no_login", s.no_login},
                         {"dropped", s.dropped},
                         {"late_ticks", s.late_ticks},
                         {"late_sessions", s.late_sessions},
                         {"resp_median_us", optional(s.response_median_us)},
                         {"resp_p99_us", optional(s.response_p99_us)}});
  }
  Json scenarios = Json::array();
  for (const ScenarioMeasures& m : board.scenarios) {
    scenarios.push_back({{"scenario", m.scenario},
                         {"sessions", m.sessions},
                         {"failed", m.failed},
                         {"mean_revenue", m.revenue.mean},
                         {"ci95", ci95(m.revenue)},
                         {"goods_sold", m.goods_sold},
                         {"goods", m.goods_total},
                         {"efficiency", ratio(m.efficiency)},
                         {"top_value_share", ratio(m.top_value_share)},
                         {"price_over_top", ratio(m.price_over_top)}});
  }
  Json doc = {{"tournament", board.name},
              {"hash", board.hash},
              {"planned", board.planned},
              {"stored", board.stored},
              {"standings", standings},
              {"scenarios", scenarios},
              {"interval", "95%, Student t on per-session values; null for fewer than 2 sessions"}};
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tournament
