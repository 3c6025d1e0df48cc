#include "report/report_fixtures.h"

#include "engine/results.h"
#include "engine/results_json.h"
#include "tournament/store.h"

namespace report::testing {

std::string SessionFixtureJson() {
  using namespace market;
  Results r;
  r.seed = 42;
  r.auctions_planned = 2;
  r.completed = true;
  AuctionResult a1;
  a1.number = 1;
  a1.goods = {
      {{"wine1", "wine", "Ana", 2600, 2300, 1400, 1},
       Outcome::kSold,
       kHostileLogin,
       2300,
       1,
       0,
       {{"CLogin", 2300}, {kHostileLogin, 2500}}},
      {{"oil<b>1</b>", "oil", "Ben", 2500, 900, 1600, 1},
       Outcome::kUnsold,
       "",
       0,
       0,
       0,
       {{"CLogin", 900}}},
      {{"gold1", "gold", "Dora", 24000, 20000, 15000, 2},
       Outcome::kSold,
       "Vera",
       20500,
       0,
       1,
       {{"CLogin", 20000}, {"Vera", 21000}}},
  };
  a1.buyers = {{"CLogin", true, 0, 0, 0, 0, 0, false, false, "agent"},
               {kHostileLogin, true, 1, 2300, 0, 0, 0, false, false, "agent"},
               {"Vera", false, 1, 20500, -500, 0, 0, false, false, "value"}};
  AuctionResult a2;
  a2.number = 2;
  a2.goods = {{{"salt\"2'", "salt", "Ben", 3000, 2600, 1000, 1},
               Outcome::kSold,
               "CLogin",
               2700,
               0,
               0,
               {{"CLogin", 2600}}}};
  a2.buyers = {{"CLogin", true, 1, 2700, -100, 0, 0, false, false, "agent"}};
  r.auctions = {a1, a2};
  r.participants = {{"CLogin", 3, 0, false, ""}, {kHostileLogin, 2, 0, false, ""}};
  // wine1: both agents bid at 2200 in one tick (a collision), the price rises to 2400 and runs
  // down; the hostile login alone bids at 2300 and buys.
  r.bids = {{1, "wine1", 2200, "CLogin", 1'000'000, 3'000, true},
            {1, "wine1", 2200, kHostileLogin, 1'004'000, 7'000, true},
            {1, "wine1", 2300, kHostileLogin, 1'052'000, 2'000, true},
            {1, "gold1", 19000, "CLogin", 2'000'000, 1'000, true},
            {2, "salt\"2'", 2700, "CLogin", 3'000'000, 1'500, true}};
  return ResultsJson(r);
}

void WriteTournamentFixture(const std::string& path, int sessions) {
  using namespace tournament;
  Store store(path, true);
  TournamentFile file;
  file.name = "demo <i>cup</i>";
  file.hash = "f00d";
  const int64_t id = store.AddTournament(file, 2 * 2 * sessions);
  const struct {
    const char* lineup;
    std::vector<const char*> names;
  } lineups[] = {{"L1", {"CLogin", kHostileLogin, "Vera"}}, {"L2", {"CLogin", "Otto"}}};
  for (const char* scenario : {"default.toml", "<script>x</script>.toml"}) {
    for (const auto& lineup : lineups) {
      for (int s = 0; s < sessions; ++s) {
        SessionRecord r;
        r.key = {scenario, static_cast<uint64_t>(s + 1), lineup.lineup};
        r.scenario_hash = "h";
        r.outcome = s == sessions - 1 ? "failed" : "completed";
        r.revenue = 1000 * (s + 1);
        for (size_t p = 0; p < lineup.names.size(); ++p) {
          ParticipantRow row;
          row.name = lineup.names[p];
          row.kind = p == 0 ? "buyer" : "builtin";
          row.strategy = p == 0 ? "buyer" : "value";
          row.surplus = 100 * static_cast<int64_t>(p + 1) + 37 * s;
          row.status = "ok";
          r.participants.push_back(row);
        }
        GoodRow good;
        good.id = "g1";
        good.outcome = "sold";
        r.goods.push_back(good);
        store.Write(id, r);
      }
    }
  }
}

}  // namespace report::testing
