// Test support for the report's tests: a small session's results JSON and a small tournament
// database, both with hostile names (markup in logins, good ids and scenario names).
#ifndef REPORT_REPORT_FIXTURES_H_
#define REPORT_REPORT_FIXTURES_H_

#include <string>

namespace test_support {

// The login of the hostile buyer in both fixtures.
inline constexpr const char* kHostileLogin = "<img src=x onerror=alert(1)>";

// Two auctions, four goods (one sold after a collision between two agents, one unsold without
// bids, one sold to a rival after a voided sale, one whose id holds quotes), with their price
// clocks: five participants' bids, six tick bids (the rival's too), written by the market's own
// results writer.
std::string SessionFixtureJson();
inline constexpr int kFixtureGoods = 4;
inline constexpr int kFixtureBids = 5;
inline constexpr int kFixtureTickBids = 6;
inline constexpr int kFixtureCollisions = 1;

// The same results as written before goods carried their price clock.
std::string SessionFixtureJsonWithoutClocks();

// A tournament of two lineups over two scenarios and `sessions` seeds each, written with the
// tournament store into a new database at path; one session of each lineup fails. Entries:
// lineup "L1": CLogin, kHostileLogin, Vera; lineup "L2": CLogin, Otto.
void WriteTournamentFixture(const std::string& path, int sessions);
inline constexpr int kFixtureEntries = 5;

}  // namespace test_support

#endif  // REPORT_REPORT_FIXTURES_H_
