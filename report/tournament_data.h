// What the tournament report draws, read from a tournament database (tournament/store.h): the
// tournament library's leaderboard, each entry's surplus in every session with results, and per
// scenario the revenue of each session (and its efficiency, when the database holds that column).
#ifndef REPORT_TOURNAMENT_DATA_H_
#define REPORT_TOURNAMENT_DATA_H_

#include <optional>
#include <string>
#include <vector>

#include "tournament/db/leaderboard.h"

namespace report {

struct ScenarioSessions {
  std::string scenario;
  std::vector<double> revenue;     // sessions with results
  std::vector<double> efficiency;  // those that recorded one
};

struct TournamentData {
  tournament::Leaderboard board;
  std::vector<std::vector<double>> surplus;  // per standing, in board.standings' order
  std::vector<ScenarioSessions> scenarios;   // in board.scenarios' order
  bool has_efficiency = false;               // the database records efficiency per session
};

// Reads the tournament `which` (id or hash; empty: the last added) from the database at path,
// never creating or changing it. Throws InputError (session_data.h) with one line when the file
// is missing, not a tournament database, or holds no such tournament.
TournamentData ReadTournament(const std::string& path, const std::string& which);

}  // namespace report

#endif  // REPORT_TOURNAMENT_DATA_H_
