// Tournament lineups for tests, read as a tournament file reads them.
#ifndef TESTS_SUPPORT_LINEUP_H_
#define TESTS_SUPPORT_LINEUP_H_

#include <string>

#include "tournament/file/tournament_file.h"

namespace test_support {

// The lineup of a tournament file that holds only `entries` (its `[[lineups.entries]]` tables) and
// the default scenario; fails the calling test, and returns an empty lineup, when it does not load.
tournament::Lineup LoadLineup(const std::string& entries);

}  // namespace test_support

#endif  // TESTS_SUPPORT_LINEUP_H_
