#include "tournament/slurm/merge.h"

#include <filesystem>
#include <optional>
#include <set>

#include "tournament/db/shard_store.h"
#include "tournament/db/sqlite_db.h"
#include "tournament/db/store.h"
#include "tournament/db/totals.h"

namespace tournament {
namespace {

struct ShardFile {
  std::string hash;
  Shard shard;
  int64_t planned = 0;
  int64_t stored = 0;
};

int64_t One(Db& db, const std::string& sql) {
  Statement q = db.Prepare(sql);
  q.Step();
  return q.Int(0);
}

// What a shard file holds, checked: one tournament, one shard of it.
ShardFile ReadShardFile(const std::string& path) {
  Db db(path, Access::kRead);
  const int64_t version = One(db, "PRAGMA user_version");
  if (version >= kOldestUpgradable && version < kSchemaVersion) {
    throw DbError(path + " holds schema version " + std::to_string(version) +
                  "; convert it with: tournament upgrade --db " + path);
  }
  if (version != kSchemaVersion) {
    throw DbError(path + " holds schema version " + std::to_string(version) +
                  ", not a shard database of version " + std::to_string(kSchemaVersion));
  }
  if (One(db, "SELECT count(*) FROM tournament") != 1) {
    throw DbError(path + " is not a shard database: it holds " +
                  std::to_string(One(db, "SELECT count(*) FROM tournament")) + " tournaments");
  }
  ShardFile f;
  Statement t = db.Prepare("SELECT id, hash FROM tournament");
  t.Step();
  f.hash = t.Text(1);
  const StoredShards held = ReadShards(db, t.Int(0));
  if (held.held.size() != 1) {
    throw DbError(path + " is not a shard database: it records " +
                  std::to_string(held.held.size()) + " shards (run it with --shard K/N)");
  }
  f.shard = {held.held.front(), held.count};
  f.planned = held.sessions_planned;
  f.stored = One(db, "SELECT count(*) FROM session");
  return f;
}

// Store::FirstId of the tournament `id` in the attached database `schema`.
int64_t FirstId(Db& db, const std::string& schema, int64_t id) {
  Statement q = db.Prepare("SELECT 1 + coalesce(sum(sessions_planned), 0) FROM " + schema +
                           ".tournament WHERE id < ?");
  q.Bind(1, id);
  q.Step();
  return q.Int(0);
}

// Adds the attached shard's totals of tournament `from` to the target's of `to`.
void AddShardTotals(Db& db, const std::string& to, const std::string& from) {
  for (const char* table : {"entry_total", "scenario_total"}) {
    std::string names, picks, update;
    Statement info =
        db.Prepare(std::string("SELECT name, pk FROM pragma_table_info('") + table + "', 'main')");
    while (info.Step()) {
      const std::string c = info.Text(0);
      names += (names.empty() ? "" : ", ") + c;
      picks += (picks.empty() ? "" : ", ") + (c == "tournament" ? to : c);
      // Keys and texts stay; every count adds.
      if (info.Int(1) == 0 && c != "name" && c != "kind" && c != "strategy") {
        update += (update.empty() ? "" : ", ") + c + " = " + c + " + excluded." + c;
      }
    }
    db.Exec(std::string("INSERT INTO main.") + table + "(" + names + ") SELECT " + picks +
            " FROM src." + table + " WHERE tournament = " + from +
            " ORDER BY 1, 2 ON CONFLICT DO UPDATE SET " + update);
  }
}

std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::vector<std::string> Columns(Db& db, const std::string& table) {
  std::vector<std::string> names;
  Statement q = db.Prepare("PRAGMA src.table_info(" + Quoted(table) + ")");
  while (q.Step()) names.push_back(q.Text(1));
  return names;
}

// The column of `table` that refers to `parent`'s id, if any.
std::optional<std::string> ForeignKey(Db& db, const std::string& table, const std::string& parent) {
  Statement q = db.Prepare("PRAGMA src.foreign_key_list(" + Quoted(table) + ")");
  while (q.Step()) {
    if (q.Text(2) == parent && (q.IsNull(4) || q.Text(4) == "id")) return q.Text(3);
  }
  return std::nullopt;
}

// Copies the attached shard `src` into the main database inside one transaction; returns the
// sessions added.
int64_t CopyShard(Store& store, const std::string& path, const std::string& hash) {
  Db& db = store.db();
  Transaction transaction(db);
  std::string own;  // the tournament's columns but its id
  for (const std::string& c : Columns(db, "tournament")) {
    if (c != "id") own += (own.empty() ? "" : ", ") + Quoted(c);
  }
  db.Exec("INSERT OR IGNORE INTO main.tournament(" + own + ") SELECT " + own +
          " FROM src.tournament");
  Statement ids = db.Prepare(
      "SELECT m.id, s.id FROM main.tournament m JOIN src.tournament s ON s.hash = m.hash "
      "WHERE m.hash = ?");
  ids.Bind(1, hash);
  if (!ids.Step()) throw DbError(path + ": the tournament row vanished");
  const std::string to = std::to_string(ids.Int(0));
  const std::string from = std::to_string(ids.Int(1));

  // The shard's sessions new to the target, by their key, and their ids there: a session's id is
  // its tournament's first id plus its place in the canonical order (Store::FirstId) in both.
  const int64_t shift = store.FirstId(ids.Int(0)) - FirstId(db, "src", ids.Int(1));
  db.Exec(
      "CREATE TEMP TABLE IF NOT EXISTS merge_ids(src INTEGER PRIMARY KEY, dst INTEGER); "
      "DELETE FROM temp.merge_ids;");
  db.Exec("INSERT INTO temp.merge_ids(src, dst) SELECT s.id, s.id + " + std::to_string(shift) +
          " FROM src.session s WHERE s.tournament = " + from +
          " AND NOT EXISTS (SELECT 1 FROM main.session m WHERE m.tournament = " + to +
          " AND m.scenario = s.scenario AND m.seed = s.seed AND m.lineup = s.lineup)");
  const int64_t added = One(db, "SELECT count(*) FROM temp.merge_ids");
  std::string columns, values;
  for (const std::string& c : Columns(db, "session")) {
    columns += (columns.empty() ? "" : ", ") + Quoted(c);
    values += (values.empty() ? "" : ", ") + (c == "tournament" ? to
                                              : c == "id"       ? std::string("i.dst")
                                                                : "s." + Quoted(c));
  }
  db.Exec("INSERT INTO main.session(" + columns + ") SELECT " + values +
          " FROM src.session s JOIN temp.merge_ids i ON i.src = s.id ORDER BY s.id");

  // Every other table, by what its rows belong to.
  std::vector<std::string> tables;
  Statement list = db.Prepare(
      "SELECT name FROM src.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
      "AND name NOT IN ('tournament', 'session', 'entry_total', 'scenario_total') ORDER BY name");
  while (list.Step()) tables.push_back(list.Text(0));
  for (const std::string& table : tables) {
    const std::optional<std::string> session = ForeignKey(db, table, "session");
    const std::optional<std::string> owner =
        session ? std::nullopt : ForeignKey(db, table, "tournament");
    if (!session && !owner) {
      throw DbError(
          path + ": table " + table +
          " belongs neither to a session nor to the tournament; the merge cannot copy it");
    }
    std::string names, picks;
    for (const std::string& c : Columns(db, table)) {
      names += (names.empty() ? "" : ", ") + Quoted(c);
      std::string pick = "x." + Quoted(c);
      if (session && c == *session) pick = "i.dst";
      if (owner && c == *owner) pick = to;
      picks += (picks.empty() ? "" : ", ") + pick;
    }
    if (session) {
      db.Exec("INSERT INTO main." + Quoted(table) + "(" + names + ") SELECT " + picks +
              " FROM src." + Quoted(table) + " x JOIN temp.merge_ids i ON i.src = x." +
              Quoted(*session));
    } else {
      db.Exec("INSERT OR IGNORE INTO main." + Quoted(table) + "(" + names + ") SELECT " + picks +
              " FROM src." + Quoted(table) + " x WHERE x." + Quoted(*owner) + " = " + from);
    }
  }
  // The totals: the shard's added to the target's when every session it holds was new, else
  // counted again from the sessions.
  if (added == One(db, "SELECT count(*) FROM src.session WHERE tournament = " + from)) {
    AddShardTotals(db, to, from);
  } else {
    RecountTotals(db, std::stoll(to));
  }
  transaction.Commit();
  return added;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

MergeReport MergeShards(const std::string& into, const std::vector<std::string>& paths) {
  // Everything checked before anything is written.
  std::vector<ShardFile> files;
  for (const std::string& path : paths) {
    if (SameFile(path, into)) throw DbError(path + " is the database merged into");
    files.push_back(ReadShardFile(path));
  }
  auto refuse = [&](size_t i, const std::string& hash, int64_t count, const std::string& as) {
    throw DbError(paths[i] + " is shard " + std::to_string(files[i].shard.index) + "/" +
                  std::to_string(files[i].shard.count) + " of tournament " + files[i].hash +
                  ", not of " + hash + " in " + std::to_string(count) + " shards (as " + as + ")");
  };
  for (size_t i = 1; i < files.size(); ++i) {
    if (files[i].hash != files[0].hash || files[i].shard.count != files[0].shard.count) {
      refuse(i, files[0].hash, files[0].shard.count, paths[0]);
    }
  }
  Store store(into, true);
  Db& db = store.db();
  std::optional<std::string> hash;
  {
    Statement t = db.Prepare("SELECT id, hash FROM tournament");
    while (t.Step()) {
      if (hash) throw DbError(into + " holds more than one tournament; merge into a new file");
      hash = t.Text(1);
      const StoredShards held = ReadShards(db, t.Int(0));
      if (held.held.empty()) {
        throw DbError(into + " holds this tournament whole, not shards; merge into a new file");
      }
      for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].hash != *hash || files[i].shard.count != held.count) {
          refuse(i, *hash, held.count, into);
        }
      }
    }
  }
  if (!hash && !files.empty()) hash = files.front().hash;

  MergeReport report;
  std::set<int64_t> seen;
  for (size_t i = 0; i < files.size(); ++i) {
    MergedShard m;
    m.path = paths[i];
    m.shard = files[i].shard;
    m.planned = files[i].planned;
    m.stored = files[i].stored;
    m.repeated = !seen.insert(m.shard.index).second;
    {
      Statement attach = db.Prepare("ATTACH DATABASE ? AS src");
      attach.Bind(1, paths[i]);
      attach.Step();
    }
    try {
      m.added = CopyShard(store, paths[i], *hash);
    } catch (...) {
      db.Exec("DETACH DATABASE src");
      throw;
    }
    db.Exec("DETACH DATABASE src");
    report.shards.push_back(std::move(m));
  }
  if (hash) {
    report.tournament = *hash;
    Statement t = db.Prepare("SELECT id, sessions_planned FROM tournament WHERE hash = ?");
    t.Bind(1, *hash);
    if (t.Step()) {
      const int64_t id = t.Int(0);
      report.planned = t.Int(1);
      Statement n = db.Prepare("SELECT count(*) FROM session WHERE tournament = ?");
      n.Bind(1, id);
      n.Step();
      report.stored = n.Int(0);
      const StoredShards held = ReadShards(db, id);
      std::set<int64_t> have(held.held.begin(), held.held.end());
      for (int64_t k = 0; k < held.count; ++k) {
        if (have.count(k) == 0) report.missing.push_back(k);
      }
    }
  }
  return report;
}

}  // namespace tournament
