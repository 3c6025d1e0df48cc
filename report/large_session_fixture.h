// Test support: a session of the largest shape a scenario allows (or any smaller one), made
// directly as the report's data, for tests of the page that draws clocks on demand. Every good
// runs a clock of a few ticks 10 ms apart, falling by a step or rising after a collision, and
// at every tick after the first a random share of the auction's buyers bids at the price it
// answers, as rivals do; the good is sold to one of the last tick's bidders, or falls out of the
// market when nobody bid.
#ifndef REPORT_LARGE_SESSION_FIXTURE_H_
#define REPORT_LARGE_SESSION_FIXTURE_H_

#include <cstdint>

#include "report/session_data.h"

namespace test_support {

struct LargeShape {
  int auctions = 21;
  int goods = 200;          // per auction
  int buyers = 1000;        // per auction, the same names in every auction
  int ticks = 4;            // clock points per good
  double bid_share = 0.37;  // of the buyers, at each tick
};

// The same seed and shape give the same session.
report::SessionData LargeSession(uint64_t seed, const LargeShape& shape = {});

}  // namespace test_support

#endif  // REPORT_LARGE_SESSION_FIXTURE_H_
