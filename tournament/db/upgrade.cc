#include "tournament/db/upgrade.h"

#include <map>
#include <optional>
#include <tuple>

#include <nlohmann/json.hpp>

#include "tournament/db/packed_session.h"
#include "tournament/db/shard_store.h"
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

// Version 3 numbered sessions in the order they were written: each moved to its place, the
// tournaments in the order they were added, each session at its tournament's first id plus its
// position.
void Renumber(Db& db, const std::string& path, const std::vector<std::string>& files) {
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
  }
  db.Exec(
      "UPDATE session SET id = (SELECT new FROM temp.renumber WHERE old = session.id); "
      "UPDATE bid SET session = (SELECT new FROM temp.renumber WHERE old = bid.session); "
      "DROP TABLE temp.renumber;");
}

using Json = nlohmann::ordered_json;  // keeps a good's values in the buyers order

template <typename T>
std::optional<T> Maybe(const Json& j) {
  if (j.is_null()) return std::nullopt;
  return j.get<T>();
}

// The session's participants and goods as versions 3 and 4 packed them (JSON arrays).
void ReadOldColumns(const std::string& participants, const std::string& goods,
                    SessionRecord& record) {
  for (const Json& x : Json::parse(participants)) {
    ParticipantRow r;
    r.name = x.at(0).get<std::string>();
    r.kind = x.at(1).get<std::string>();
    r.strategy = x.at(2).get<std::string>();
    r.purchases = x.at(3).get<int>();
    r.spend = x.at(4).get<int64_t>();
    r.benefit = x.at(5).get<int64_t>();
    r.fines = x.at(6).get<int64_t>();
    r.surplus = x.at(7).get<int64_t>();
    r.sanctions = x.at(8).get<int>();
    r.expulsions = x.at(9).get<int>();
    r.logged_in = x.at(10).get<int>() != 0;
    r.bids = x.at(11).get<int64_t>();
    r.faults = x.at(12).get<int64_t>();
    r.left = x.at(13).get<int>() != 0;
    r.dropped = x.at(14).get<std::string>();
    r.response_count = x.at(15).get<int64_t>();
    r.response_median_us = Maybe<int64_t>(x.at(16));
    r.response_p99_us = Maybe<int64_t>(x.at(17));
    r.status = x.at(18).get<std::string>();
    r.exit_code = Maybe<int>(x.at(19));
    r.exit_signal = Maybe<int>(x.at(20));
    r.stderr_tail = x.at(21).get<std::string>();
    record.participants.push_back(std::move(r));
  }
  for (const Json& x : Json::parse(goods)) {
    GoodRow g;
    g.auction = x.at(0).get<int>();
    g.id = x.at(1).get<std::string>();
    g.kind = x.at(2).get<std::string>();
    g.seller = x.at(3).get<std::string>();
    g.round = x.at(4).get<int>();
    g.initial = x.at(5).get<int64_t>();
    g.resale = x.at(6).get<int64_t>();
    g.reserve = x.at(7).get<int64_t>();
    g.outcome = x.at(8).get<std::string>();
    g.buyer = Maybe<std::string>(x.at(9));
    g.price = Maybe<int64_t>(x.at(10));
    g.collisions = x.at(11).get<int>();
    g.sanctions = x.at(12).get<int>();
    for (const auto& [buyer, value] : x.at(13).items()) {
      g.values.emplace_back(buyer, value.get<int64_t>());
    }
    record.goods.push_back(std::move(g));
  }
}

// Every session of the old tables written into the new ones, packed as this version packs them.
int64_t CopySessions(Db& db, const std::string& path, bool has_clock) {
  Statement read = db.Prepare(
      std::string("SELECT id, tournament, scenario, scenario_hash, seed, lineup, virtual_time, "
                  "started_us, duration_us, outcome, detail, revenue, goods_total, goods_sold, "
                  "efficiency, top_value_share, price_over_top, participants, goods, ") +
      (has_clock ? "clock" : "CASE WHEN virtual_time THEN 'virtual' ELSE 'real' END") +
      " FROM old_session ORDER BY id");
  Statement write =
      db.Prepare("INSERT INTO session VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  Statement entry = db.Prepare("INSERT OR IGNORE INTO lineup_entry VALUES(?,?,?,?,?,?)");
  Statement good = db.Prepare("INSERT OR IGNORE INTO scenario_good VALUES(?,?,?,?,?,?,?,?,?,?,?)");
  int64_t sessions = 0;
  while (read.Step()) {
    SessionRecord record;
    record.key = {read.Text(2), static_cast<uint64_t>(read.Int(4)), read.Text(5)};
    record.scenario_hash = read.Text(3);
    try {
      ReadOldColumns(read.Text(17), read.Text(18), record);
    } catch (const std::exception& e) {  // nlohmann's faults
      throw DbError(path + ": session " + std::to_string(read.Int(0)) +
                    " cannot be read: " + e.what());
    }
    const PackedSession packed = Pack(std::move(record));
    for (int c = 0; c < 17; ++c) {
      if (read.IsNull(c)) {
        write.BindNull(c + 1);
      } else if (c >= 14) {
        write.Bind(c + 1, read.Real(c));
      } else if (c == 2 || c == 3 || c == 5 || c == 9 || c == 10) {
        write.Bind(c + 1, read.Text(c));
      } else {
        write.Bind(c + 1, read.Int(c));
      }
    }
    write.BindBlob(18, packed.participants).BindBlob(19, packed.goods).Bind(20, read.Text(19));
    write.Step();
    write.Reset();
    const int64_t tournament = read.Int(1);
    for (size_t i = 0; i < packed.entries.size(); ++i) {
      const EntryFigures& f = packed.entries[i];
      entry.Bind(1, tournament).Bind(2, packed.record.key.lineup).Bind(3, static_cast<int64_t>(i));
      entry.Bind(4, f.name).Bind(5, f.kind).Bind(6, f.strategy);
      entry.Step();
      entry.Reset();
    }
    for (size_t i = 0; i < packed.plan.size(); ++i) {
      const GoodPlan& x = packed.plan[i];
      good.Bind(1, tournament).Bind(2, packed.record.scenario_hash);
      good.Bind(3, static_cast<int64_t>(i)).Bind(4, int64_t{x.auction}).Bind(5, x.id);
      good.Bind(6, x.kind).Bind(7, x.seller).Bind(8, int64_t{x.round}).Bind(9, x.initial);
      good.Bind(10, x.resale).Bind(11, x.reserve);
      good.Step();
      good.Reset();
    }
    ++sessions;
  }
  return sessions;
}

}  // namespace

UpgradeReport UpgradeDatabase(const std::string& path, const std::vector<std::string>& files) {
  Db db(path, Access::kWrite);
  UpgradeReport report;
  Transaction transaction(db);
  report.from = One(db, "PRAGMA user_version");
  if (report.from == kSchemaVersion) return report;
  if (report.from < kOldestUpgradable || report.from > kSchemaVersion) {
    throw DbError(path + " holds schema version " + std::to_string(report.from) +
                  "; upgrade converts versions " + std::to_string(kOldestUpgradable) + " to " +
                  std::to_string(kSchemaVersion - 1));
  }
  if (report.from == 3) Renumber(db, path, files);
  // The old tables moved aside and the new schema made as a new file's, so that the converted
  // file holds the same definitions, in the same order, as one this version writes.
  db.Exec(
      "DROP VIEW IF EXISTS participant; DROP VIEW IF EXISTS good; "
      "DROP TABLE IF EXISTS entry_total; DROP TABLE IF EXISTS scenario_total; "
      "ALTER TABLE tournament RENAME TO old_tournament; "
      "ALTER TABLE session RENAME TO old_session; ALTER TABLE bid RENAME TO old_bid; "
      "ALTER TABLE shard RENAME TO old_shard;");
  CreateSchema(db);
  db.Exec(
      "INSERT INTO tournament SELECT * FROM old_tournament; "
      "INSERT INTO shard SELECT * FROM old_shard;");
  bool has_clock = false;
  {
    Statement info =
        db.Prepare("SELECT 1 FROM pragma_table_info('old_session') WHERE name = 'clock'");
    has_clock = info.Step();
  }
  report.sessions = CopySessions(db, path, has_clock);
  // Every bid is a buyer's first of its tick: the flag saying so is not kept.
  db.Exec(
      "INSERT INTO bid SELECT session, position, auction, good, price, buyer, at_us, response_us "
      "FROM old_bid; "
      "DROP TABLE old_bid; DROP TABLE old_session; DROP TABLE old_shard; "
      "DROP TABLE old_tournament;");
  std::vector<int64_t> tournaments;
  {
    Statement t = db.Prepare("SELECT id FROM tournament ORDER BY id");
    while (t.Step()) tournaments.push_back(t.Int(0));
  }
  for (int64_t id : tournaments) RecountTotals(db, id);
  report.tournaments = static_cast<int64_t>(tournaments.size());
  transaction.Commit();
  return report;
}

}  // namespace tournament
