// `tournament plan`: how a tournament's sessions split into shards (shard.h), as a table (one
// line per shard: its count, first and last session) or as JSON (every shard's session keys),
// written as the sessions are enumerated: the memory taken does not grow with the tournament.
#ifndef TOURNAMENT_PLAN_FORMAT_H_
#define TOURNAMENT_PLAN_FORMAT_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "tournament/file/tournament_file.h"

namespace tournament {

std::string PlanTable(const TournamentFile& tournament, int64_t shards);
void WritePlanJson(std::ostream& out, const TournamentFile& tournament, int64_t shards);

}  // namespace tournament

#endif  // TOURNAMENT_PLAN_FORMAT_H_
