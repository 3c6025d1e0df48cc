// `tournament plan`: how a tournament's sessions split into shards (shard.h), as a table (one
// line per shard: its count, first and last session) or as JSON (every shard's session keys).
#ifndef TOURNAMENT_PLAN_FORMAT_H_
#define TOURNAMENT_PLAN_FORMAT_H_

#include <cstdint>
#include <string>

#include "tournament/tournament_file.h"

namespace tournament {

std::string PlanTable(const TournamentFile& tournament, int64_t shards);
std::string PlanJson(const TournamentFile& tournament, int64_t shards);

}  // namespace tournament

#endif  // TOURNAMENT_PLAN_FORMAT_H_
