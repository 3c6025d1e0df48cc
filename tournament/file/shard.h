// Splitting a tournament into shards that run apart (on other machines, as the tasks of a batch
// job) and are merged afterwards. The planned sessions, in the tournament's canonical order
// (scenarios as listed, then seeds as listed, then lineups as listed), are dealt out in turn:
// session i belongs to shard i mod N. The same file and the same N give the same split on any
// machine; the shards' sizes differ by at most one, and every shard gets its share of each
// scenario and lineup, so real-clock and virtual-time sessions spread evenly.
#ifndef TOURNAMENT_SHARD_H_
#define TOURNAMENT_SHARD_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tournament/file/session_record.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

// At most this many shards: each is a database file and a batch task.
inline constexpr int64_t kMaxShards = 100'000;

// Shard `index` (0-based) of `count`.
struct Shard {
  int64_t index = 0;
  int64_t count = 1;
  bool operator==(const Shard&) const = default;
};

struct ShardParse {
  std::optional<Shard> shard;
  std::string error;  // one line, when shard is empty
};

// Parses "K/N": decimal digits only, 1 <= N <= kMaxShards, K < N.
ShardParse ParseShard(const std::string& text);

// One planned session: its key and where its scenario and lineup are in the file.
struct PlannedSession {
  SessionKey key;
  size_t scenario = 0;  // index into TournamentFile::scenarios
  size_t lineup = 0;    // index into TournamentFile::lineups
};

// Every session of the tournament in the canonical order, each computed from its position when
// asked for: a plan costs the same memory whatever the number of sessions. The tournament must
// outlive the plan.
class SessionPlan {
 public:
  explicit SessionPlan(const TournamentFile& tournament);
  int64_t size() const { return size_; }
  // The session at `position`, 0 <= position < size().
  PlannedSession At(int64_t position) const;

 private:
  const TournamentFile& t_;
  int64_t size_ = 0;
};

// Whether the session at `position` in the canonical order belongs to the shard.
inline bool InShard(int64_t position, const Shard& shard) {
  return position % shard.count == shard.index;
}

// How many of `total` sessions the shard holds.
int64_t ShardSize(int64_t total, const Shard& shard);

}  // namespace tournament

#endif  // TOURNAMENT_SHARD_H_
