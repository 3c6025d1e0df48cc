#include "tournament/db/upgrade.h"

#include <map>
#include <optional>
#include <tuple>

#include "tournament/db/sqlite_db.h"
#include "tournament/db/store.h"
#include "tournament/db/totals.h"
#include "tournament/file/shard.h"
#include "tournament/file/tournament_file.h"

namespace tournament {
namespace {

int64_t One(Db& db, const std::string& sql) {
  Statement q = db.Prepare(sql);
  q.Step();
  return q.Int(0);
}

// The tournament file whose hash is `hash`: among those given, else the one recorded.
TournamentFile FindFile(const std::string& hash, const std::string& recorded,
                        const std::vector<std::string>& given) {
  std::vector<std::string> candidates = given;
  candidates.push_back(recorded);
  std::string why;
  for (const std::string& path : candidates) {
    TournamentLoad load = LoadTournament(path);
    if (load.tournament && load.tournament->hash == hash) return std::move(*load.tournament);
    if (path == recorded) why = load.tournament ? "it has changed since the run" : load.error;
  }
  throw DbError("tournament " + hash + " was run from " + recorded + ", which cannot be used (" +
                why + "); give its file with --file");
}

}  // namespace

UpgradeReport UpgradeDatabase(const std::string& path, const std::vector<std::string>& files) {
  Db db(path, Access::kWrite);
  UpgradeReport report;
  Transaction transaction(db);
  report.from = One(db, "PRAGMA user_version");
  if (report.from == kSchemaVersion) return report;
  if (report.from != kUpgradableVersion) {
    throw DbError(path + " holds schema version " + std::to_string(report.from) +
                  "; upgrade converts version " + std::to_string(kUpgradableVersion));
  }
  CreateTotalsTables(db);
  // Every session moved out of the way (negative ids), then to its place: the tournaments in the
  // order they were added, each session at its tournament's first id plus its position.
  // Version 4 says which clock ran each session; version 3 knew only virtual time or the real
  // clock, which the sessions' virtual_time tells.
  AddClockColumn(db);
  db.Exec("UPDATE session SET clock = CASE WHEN virtual_time THEN 'virtual' ELSE 'real' END");
  db.Exec("UPDATE session SET id = -id; UPDATE bid SET session = -session;");
  db.Exec("CREATE TEMP TABLE renumber(old INTEGER PRIMARY KEY, new INTEGER NOT NULL)");
  std::vector<std::tuple<int64_t, std::string, std::string, int64_t>> tournaments;
  {
    Statement t = db.Prepare("SELECT id, hash, file, sessions_planned FROM tournament ORDER BY id");
    while (t.Step()) tournaments.emplace_back(t.Int(0), t.Text(1), t.Text(2), t.Int(3));
  }
  int64_t first = 1;
  for (const auto& [id, hash, recorded, planned] : tournaments) {
    const TournamentFile file = FindFile(hash, recorded, files);
    std::map<SessionKey, int64_t> stored;  // key to its id
    {
      Statement q =
          db.Prepare("SELECT scenario, seed, lineup, id FROM session WHERE tournament = ?");
      q.Bind(1, id);
      while (q.Step()) stored[{q.Text(0), static_cast<uint64_t>(q.Int(1)), q.Text(2)}] = q.Int(3);
    }
    const SessionPlan plan(file);
    Statement add = db.Prepare("INSERT INTO temp.renumber VALUES(?, ?)");
    size_t found = 0;
    for (int64_t at = 0; at < plan.size() && found < stored.size(); ++at) {
      const auto it = stored.find(plan.At(at).key);
      if (it == stored.end()) continue;
      add.Bind(1, it->second).Bind(2, first + at);
      add.Step();
      add.Reset();
      ++found;
    }
    if (found != stored.size() || plan.size() != planned) {
      throw DbError(path + ": tournament " + hash + " holds " +
                    std::to_string(stored.size() - found) + " sessions its file does not plan");
    }
    first += planned;
    report.sessions += static_cast<int64_t>(found);
    ++report.tournaments;
  }
  db.Exec(
      "UPDATE session SET id = (SELECT new FROM temp.renumber WHERE old = session.id); "
      "UPDATE bid SET session = (SELECT new FROM temp.renumber WHERE old = bid.session); "
      "DROP TABLE temp.renumber;");
  for (const auto& row : tournaments) RecountTotals(db, std::get<0>(row));
  db.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
  transaction.Commit();
  return report;
}

}  // namespace tournament
