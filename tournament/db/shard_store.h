// What a database records of shards: a run of one shard (`run --shard K/N`) records K, N and the
// sessions planned for K; a merge records every shard merged into it. A database with no shard
// recorded for a tournament holds it whole (or is running it whole).
//
//   shard(tournament, shard, shards, sessions_planned), PRIMARY KEY(tournament, shard)
//
// tournament.sessions_planned stays the whole tournament's count in every database.
#ifndef TOURNAMENT_SHARD_STORE_H_
#define TOURNAMENT_SHARD_STORE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tournament/db/sqlite_db.h"
#include "tournament/file/shard.h"

namespace tournament {

// Creates the shard table (a new database, or one of schema version 1 being brought to 2).
void CreateShardTable(Db& db);

struct StoredShards {
  int64_t count = 0;             // N; 0 when no shard is recorded
  std::vector<int64_t> held;     // the shards recorded, ascending
  int64_t sessions_planned = 0;  // summed over the shards held
};

StoredShards ReadShards(Db& db, int64_t tournament);

// Makes the database's tournament the given shard (nullopt: the whole tournament) before a run.
// Throws DbError (one line naming `path`) when it holds another shard, a merge, or the whole
// tournament where a shard is asked for.
void ClaimShard(Db& db, const std::string& path, int64_t tournament,
                const std::optional<Shard>& shard, int64_t shard_planned);

// Records a shard merged into the database (nothing when it is recorded already).
void RecordMergedShard(Db& db, int64_t tournament, const Shard& shard, int64_t sessions_planned);

// For `show`: a line saying what a database holding shards lacks ("incomplete: 87 of 100
// sessions; holds shards 0-2 4 6-7 of 8, missing 3 5"; for one shard's own file "shard 3 of 8:
// 13 of its 13 sessions; ..."), or nothing when it holds the whole tournament (merged complete,
// or never split).
std::optional<std::string> IncompleteNote(Db& db, int64_t tournament, int64_t stored,
                                          int64_t planned);

// Shard numbers for a message: runs shortened ("0-2 4 6-7"), at most `limit` items.
std::string ShardList(const std::vector<int64_t>& shards, size_t limit = 16);

}  // namespace tournament

#endif  // TOURNAMENT_SHARD_STORE_H_
