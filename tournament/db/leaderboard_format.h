// The leaderboard as a text table (for people), CSV (one row per lineup entry) or JSON (the
// whole board). The surplus column is "mean_surplus": benefit less fines per session.
#ifndef TOURNAMENT_LEADERBOARD_FORMAT_H_
#define TOURNAMENT_LEADERBOARD_FORMAT_H_

#include <string>

#include "tournament/db/leaderboard.h"

namespace tournament {

std::string LeaderboardTable(const Leaderboard& board);
std::string LeaderboardCsv(const Leaderboard& board);
std::string LeaderboardJson(const Leaderboard& board);
// CSV of the per-scenario section: one row per scenario with its revenue, goods and measures
// (each ratio's mean and 95% interval, blank where no session defines it).
std::string MarketsCsv(const Leaderboard& board);

}  // namespace tournament

#endif  // TOURNAMENT_LEADERBOARD_FORMAT_H_
