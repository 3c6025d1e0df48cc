// Test support: the results of a small session, for the tests of what is written from results.
#ifndef ENGINE_SAMPLE_RESULTS_H_
#define ENGINE_SAMPLE_RESULTS_H_

#include "engine/results.h"

namespace test_support {

// One auction of two planned: a good sold to the agent, one sold to a rival after collisions and
// a voided sale, one unsold; a rival expelled (gone before the last good, so absent from its
// values); one ignored line. Rash valued both goods sold most; Vera valued the unsold good below
// its reserve.
inline market::Results SampleResults() {
  using namespace market;
  Results r;
  r.seed = 7;
  r.auctions_planned = 2;
  r.completed = true;
  AuctionResult a;
  a.number = 1;
  a.rounds = 2;
  const GoodResult sold{{"wine1", "wine", "Ana", 2600, 2300, 1400, 1},
                        Outcome::kSold,
                        "CLogin",
                        2000,
                        0,
                        0,
                        {{0, 2300}, {1, 2100}, {2, 2600}}};
  const GoodResult contested{{"gold1", "gold", "Dora", 24000, 20000, 15000, 2},
                             Outcome::kSold,
                             "Vera",
                             20500,
                             2,
                             1,
                             {{0, 20000}, {1, 21000}, {2, 27000}}};
  const GoodResult unsold{{"oil1", "oil", "Ben", 2500, 900, 1600, 2},
                          Outcome::kUnsold,
                          "",
                          0,
                          0,
                          0,
                          {{0, 900}, {1, 1000}}};
  a.goods = {sold, contested, unsold};
  a.buyers = {{"CLogin", true, 1, 2000, 300, 0, 0, false, false, "agent"},
              {"Vera", false, 1, 20500, -500, 0, 0, false, false, "value"},
              {"Rash", false, 0, 0, 0, 2, 5300, true, false, "careless"}};
  r.auctions = {a};
  r.ignored = {{"(not admitted)", "hello \"market\"", "unknown command"}};
  r.ignored_total = 1;
  return r;
}

// The sample with two participants, their bids and a dropped connection.
inline market::Results SampleWithParticipants() {
  using namespace market;
  Results r = SampleResults();
  r.participants = {{"CLogin", 3, 0, false, ""}, {"Ann", 1, 2, true, "too many faults"}};
  r.bids = {{1, "wine1", 2000, "CLogin", 5000, 1200, true},
            {1, "wine1", 2000, "CLogin", 5100, 1300, false},
            {1, "wine1", 2000, "CLogin", 9000, 3400, true}};
  r.dropped = {{"Ann", "too many faults"}};
  r.dropped_total = 1;
  return r;
}

}  // namespace test_support

#endif  // ENGINE_SAMPLE_RESULTS_H_
