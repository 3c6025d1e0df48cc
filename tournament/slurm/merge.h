// Merging shard databases (written by `run --shard K/N`) into one database that reads as the
// tournament run in one piece. The copy is driven by the schema: every table whose rows belong to
// a session (a foreign key to session(id)) is copied with the session ids mapped, every table
// belonging to the tournament (a foreign key to tournament(id), such as shard) with the
// tournament id mapped, so a new table of either kind needs no change here.
#ifndef TOURNAMENT_MERGE_H_
#define TOURNAMENT_MERGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tournament/file/shard.h"

namespace tournament {

struct MergedShard {
  std::string path;
  Shard shard;
  int64_t planned = 0;    // sessions planned for the shard
  int64_t stored = 0;     // sessions the shard file holds
  int64_t added = 0;      // of those, new to the target
  bool repeated = false;  // given before in the same merge
};

struct MergeReport {
  std::string tournament;           // its hash
  std::vector<MergedShard> shards;  // in the order given
  std::vector<int64_t> missing;     // shards recorded neither in the target nor in the inputs
  int64_t stored = 0;               // sessions in the target afterwards
  int64_t planned = 0;              // of the whole tournament
  bool Complete() const { return missing.empty() && stored == planned; }
};

// Merges the shard files into `into` (created when missing; it may hold earlier merges of the
// same tournament), one transaction per shard: a session already in the target is not copied
// again, so merging a shard twice, or again after it grew, adds only what is new. Throws DbError
// (one line naming the file) before writing anything when a file cannot be read, is not a shard
// database, belongs to another tournament (file hash or number of shards) than the first shard or
// the target, or is the target itself.
MergeReport MergeShards(const std::string& into, const std::vector<std::string>& shards);

}  // namespace tournament

#endif  // TOURNAMENT_MERGE_H_
