// The HTML report of a tournament: the leaderboard (table and chart of mean surplus per session
// with 95% interval whiskers), the distribution of each entry's surplus over its sessions, and
// per scenario the revenue (and efficiency, when recorded) of its sessions.
#ifndef REPORT_TOURNAMENT_REPORT_H_
#define REPORT_TOURNAMENT_REPORT_H_

#include <string>
#include <string_view>

#include "report/tournament_data.h"

namespace report {

// The whole page; leaderboard rows are <tr class="entry">. `source` is shown under the title.
std::string TournamentReport(const TournamentData& data, std::string_view source);

}  // namespace report

#endif  // REPORT_TOURNAMENT_REPORT_H_
