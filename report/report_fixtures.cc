#include "report/report_fixtures.h"

#include <nlohmann/json.hpp>

#include "engine/results.h"
#include "engine/results_json.h"
#include "tournament/db/store.h"

namespace test_support {

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
       {{0, 2300}, {1, 2500}}},
      {{"oil<b>1</b>", "oil", "Ben", 2500, 900, 1600, 1},
       Outcome::kUnsold,
       "",
       0,
       0,
       0,
       {{0, 900}}},
      {{"gold1", "gold", "Dora", 24000, 20000, 15000, 2},
       Outcome::kSold,
       "Vera",
       20500,
       0,
       1,
       {{0, 20000}, {2, 21000}}},
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
               {{0, 2600}}}};
  a2.buyers = {{"CLogin", true, 1, 2700, -100, 0, 0, false, false, "agent"}};

  // The clocks, ticks of 20 ms, steps of 100. wine1: down to 2200, where both agents bid (a
  // collision to 2400), down to 2300, where the hostile login alone bids and buys.
  using Kind = ClockStep::Kind;
  const auto run_down = [](GoodResult& g, int64_t at_us, int64_t from, int64_t to) {
    for (int64_t price = from; price >= to; price -= 100, at_us += 20'000) {
      g.clock.push_back({at_us, price, Kind::kOffer});
    }
  };
  GoodResult& wine = a1.goods[0];
  run_down(wine, 917'000, 2600, 2200);
  wine.clock.push_back({1'017'000, 2400, Kind::kCollision});
  wine.clock.push_back({1'037'000, 2300, Kind::kOffer});
  wine.tick_bids = {{1'000'000, 2200, 0}, {1'004'000, 2200, 1}, {1'039'000, 2300, 1}};
  wine.ended_us = 1'057'000;
  // oil: no bid down to its reserve.
  GoodResult& oil = a1.goods[1];
  run_down(oil, 1'057'000, 2500, 1600);
  oil.ended_us = 1'257'000;
  // gold1: CLogin alone at 20500 but cannot pay (a voided sale), the same price again, and the
  // rival Vera takes it, at the end of the tick.
  GoodResult& gold = a1.goods[2];
  run_down(gold, 1'300'000, 24000, 20500);
  gold.clock.push_back({2'020'000, 20500, Kind::kOffer});
  gold.tick_bids = {{2'001'000, 20500, 0}, {2'040'000, 20500, 2}};
  gold.ended_us = 2'040'000;
  a1.buyers[0].sanctions = 1;
  GoodResult& salt = a2.goods[0];
  run_down(salt, 2'938'500, 3000, 2700);
  salt.tick_bids = {{3'000'000, 2700, 0}};
  salt.ended_us = 3'018'500;
  r.auctions = {a1, a2};
  r.participants = {{"CLogin", 3, 0, false, ""}, {kHostileLogin, 2, 0, false, ""}};
  // The participants' bids, as the clocks have them.
  r.bids = {{1, "wine1", 2200, "CLogin", 1'000'000, 3'000, true},
            {1, "wine1", 2200, kHostileLogin, 1'004'000, 7'000, true},
            {1, "wine1", 2300, kHostileLogin, 1'039'000, 2'000, true},
            {1, "gold1", 20500, "CLogin", 2'001'000, 1'000, true},
            {2, "salt\"2'", 2700, "CLogin", 3'000'000, 1'500, true}};
  return ResultsJson(r);
}

std::string SessionFixtureJsonWithoutClocks() {
  nlohmann::ordered_json doc = nlohmann::ordered_json::parse(SessionFixtureJson());
  for (auto& auction : doc["auctions"]) {
    for (auto& good : auction["goods"]) {
      good.erase("clock");
      good.erase("tick_bids_packed");
      good.erase("ended_us");
    }
  }
  return doc.dump(2);
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

}  // namespace test_support
