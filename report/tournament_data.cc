#include "report/tournament_data.h"

#include <map>
#include <utility>

#include "report/session_data.h"
#include "tournament/db/sqlite_db.h"

namespace report {
namespace {

bool HasColumn(tournament::Db& db, const std::string& table, const std::string& column) {
  tournament::Statement info = db.Prepare("SELECT name FROM pragma_table_info(?)");
  info.Bind(1, table);
  while (info.Step()) {
    if (info.Text(0) == column) return true;
  }
  return false;
}

TournamentData Read(tournament::Db& db, const std::string& which) {
  TournamentData data;
  data.board = tournament::ReadLeaderboard(db, which);

  std::map<std::pair<std::string, std::string>, size_t> index;
  for (size_t i = 0; i < data.board.standings.size(); ++i) {
    index[{data.board.standings[i].lineup, data.board.standings[i].name}] = i;
  }
  data.surplus.resize(data.board.standings.size());
  // As the leaderboard counts them: sessions without results say nothing of surplus.
  tournament::Statement rows = db.Prepare(
      "SELECT s.lineup, p.name, p.surplus FROM participant p JOIN session s ON s.id = p.session "
      "WHERE s.tournament = ? AND s.outcome != 'failed' ORDER BY s.lineup, p.position, s.id");
  rows.Bind(1, data.board.tournament);
  while (rows.Step()) {
    const auto it = index.find({rows.Text(0), rows.Text(1)});
    if (it != index.end()) data.surplus[it->second].push_back(static_cast<double>(rows.Int(2)));
  }

  data.has_efficiency = HasColumn(db, "session", "efficiency");
  std::map<std::string, size_t> scenario_index;
  for (const tournament::ScenarioMeasures& m : data.board.scenarios) {
    scenario_index[m.scenario] = data.scenarios.size();
    data.scenarios.push_back({m.scenario, {}, {}});
  }
  tournament::Statement sessions = db.Prepare(
      std::string("SELECT scenario, revenue, ") + (data.has_efficiency ? "efficiency" : "NULL") +
      " FROM session WHERE tournament = ? AND outcome != 'failed' ORDER BY id");
  sessions.Bind(1, data.board.tournament);
  while (sessions.Step()) {
    const auto it = scenario_index.find(sessions.Text(0));
    if (it == scenario_index.end()) continue;
    ScenarioSessions& s = data.scenarios[it->second];
    s.revenue.push_back(static_cast<double>(sessions.Int(1)));
    if (!sessions.IsNull(2)) s.efficiency.push_back(sessions.Real(2));
  }
  return data;
}

}  // namespace

TournamentData ReadTournament(const std::string& path, const std::string& which) {
  try {
    // Never created here; and a report changes nothing in it.
    tournament::Db db(path, tournament::Access::kRead);
    db.Exec("PRAGMA query_only = 1");
    return Read(db, which);
  } catch (const tournament::DbError& e) {
    throw InputError(path + ": not a readable tournament database (" + e.what() + ")");
  }
}

}  // namespace report
