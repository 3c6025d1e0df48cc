#include "tournament/db/shard_store.h"

namespace tournament {

void CreateShardTable(Db& db) {
  db.Exec(
      "CREATE TABLE shard("
      "tournament INTEGER NOT NULL REFERENCES tournament(id), "
      "shard INTEGER NOT NULL, "
      "shards INTEGER NOT NULL, "
      "sessions_planned INTEGER NOT NULL, "
      "PRIMARY KEY(tournament, shard)) WITHOUT ROWID");
}

StoredShards ReadShards(Db& db, int64_t tournament) {
  StoredShards r;
  Statement q = db.Prepare(
      "SELECT shard, shards, sessions_planned FROM shard WHERE tournament = ? ORDER BY shard");
  q.Bind(1, tournament);
  while (q.Step()) {
    r.held.push_back(q.Int(0));
    r.count = q.Int(1);
    r.sessions_planned += q.Int(2);
  }
  return r;
}

namespace {

int64_t SessionCount(Db& db, int64_t tournament) {
  Statement q = db.Prepare("SELECT count(*) FROM session WHERE tournament = ?");
  q.Bind(1, tournament);
  q.Step();
  return q.Int(0);
}

std::string Name(const Shard& s) { return std::to_string(s.index) + "/" + std::to_string(s.count); }

}  // namespace

void ClaimShard(Db& db, const std::string& path, int64_t tournament,
                const std::optional<Shard>& shard, int64_t shard_planned) {
  Transaction t(db);
  const StoredShards held = ReadShards(db, tournament);
  if (held.held.empty()) {
    if (!shard) return;  // the whole tournament: nothing to record
    if (SessionCount(db, tournament) != 0) {
      throw DbError(path + " holds this tournament whole, not shard " + Name(*shard));
    }
    RecordMergedShard(db, tournament, *shard, shard_planned);
    t.Commit();
    return;
  }
  const Shard first{held.held.front(), held.count};
  if (held.held.size() > 1) {
    throw DbError(path + " holds a merge of " + std::to_string(held.held.size()) + " shards of " +
                  std::to_string(held.count) + "; run shards into their own files and merge");
  }
  if (!shard) {
    throw DbError(path + " holds shard " + Name(first) + " of this tournament; add --shard " +
                  Name(first));
  }
  if (!(first == *shard)) {
    throw DbError(path + " holds shard " + Name(first) + " of this tournament, not " +
                  Name(*shard));
  }
}

void RecordMergedShard(Db& db, int64_t tournament, const Shard& shard, int64_t sessions_planned) {
  Statement insert = db.Prepare(
      "INSERT OR IGNORE INTO shard(tournament, shard, shards, sessions_planned) "
      "VALUES(?,?,?,?)");
  insert.Bind(1, tournament).Bind(2, shard.index).Bind(3, shard.count).Bind(4, sessions_planned);
  insert.Step();
}

std::string ShardList(const std::vector<int64_t>& shards, size_t limit) {
  std::string out;
  size_t items = 0;
  for (size_t i = 0; i < shards.size();) {
    size_t j = i;
    while (j + 1 < shards.size() && shards[j + 1] == shards[j] + 1) ++j;
    if (items++ == limit) return out + " ...";
    out += (out.empty() ? "" : " ") + std::to_string(shards[i]);
    if (j > i) out += "-" + std::to_string(shards[j]);
    i = j + 1;
  }
  return out;
}

std::optional<std::string> IncompleteNote(Db& db, int64_t tournament, int64_t stored,
                                          int64_t planned) {
  const StoredShards held = ReadShards(db, tournament);
  if (held.held.empty()) return std::nullopt;
  std::vector<int64_t> missing;
  for (int64_t k = 0, h = 0; k < held.count; ++k) {
    if (static_cast<size_t>(h) < held.held.size() && held.held[static_cast<size_t>(h)] == k) {
      ++h;
    } else {
      missing.push_back(k);
    }
  }
  if (missing.empty() && stored == planned) return std::nullopt;
  if (held.held.size() == 1) {
    return "shard " + std::to_string(held.held.front()) + " of " + std::to_string(held.count) +
           ": " + std::to_string(stored) + " of its " + std::to_string(held.sessions_planned) +
           " sessions; the tournament has " + std::to_string(planned) + " (merge its shards)";
  }
  std::string note = "incomplete: " + std::to_string(stored) + " of " + std::to_string(planned) +
                     " sessions; holds shard" + (held.held.size() == 1 ? " " : "s ") +
                     ShardList(held.held) + " of " + std::to_string(held.count);
  if (!missing.empty()) note += ", missing " + ShardList(missing);
  return note;
}

}  // namespace tournament
