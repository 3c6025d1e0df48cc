#include "report/large_session_fixture.h"

#include <random>
#include <string>

namespace test_support {

report::SessionData LargeSession(uint64_t seed, const LargeShape& shape) {
  using namespace report;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  SessionData data;
  data.seed = std::to_string(seed);
  data.completed = true;
  data.measures = {{"revenue", "0"}, {"efficiency", "0.8"}};
  std::vector<std::string> names;
  for (int b = 0; b < shape.buyers; ++b) names.push_back("Riv" + std::to_string(b + 1));
  int64_t revenue = 0;
  for (int a = 1; a <= shape.auctions; ++a) {
    SessionAuction auction;
    auction.number = a;
    for (const std::string& name : names) {
      auction.buyers.push_back({name, "truthful", false, 0, 0, 0, 0, 0, 0, false, false});
    }
    int64_t at = 0;
    for (int g = 1; g <= shape.goods; ++g) {
      SessionGood good;
      good.auction = a;
      good.id = "a" + std::to_string(a) + "g" + std::to_string(g);
      good.kind = "wine";
      good.seller = "Dora";
      good.round = 1 + (g - 1) * 4 / std::max(shape.goods, 1);
      good.initial = 1500 + static_cast<int64_t>(unit(rng) * 2000);
      good.reserve = good.initial / 3;
      good.has_clock = true;
      int64_t price = good.initial;
      std::vector<size_t> last_bidders;
      for (int t = 0; t < shape.ticks; ++t) {
        const bool rise = t > 0 && !last_bidders.empty();
        if (t > 0) price = rise ? price + 100 : price - 3;
        good.clock.push_back({at, price, rise});
        at += 10000;
        last_bidders.clear();
        if (t + 1 == shape.ticks) break;
        for (size_t b = 0; b < names.size(); ++b) {
          if (unit(rng) >= shape.bid_share) continue;
          good.tick_bids.push_back({names[b], price, at, 0});
          last_bidders.push_back(b);
        }
        if (last_bidders.size() == 1) break;
      }
      good.ended_us = at;
      if (good.tick_bids.empty()) {
        good.outcome = "unsold";
      } else {
        good.outcome = "sold";
        good.buyer = good.tick_bids.back().buyer;
        good.price = good.tick_bids.back().price;
        good.collisions = static_cast<int>(good.clock.size()) - 1;
        revenue += good.price;
      }
      data.tick_bids += good.tick_bids.size();
      auction.goods.push_back(std::move(good));
    }
    data.auctions.push_back(std::move(auction));
  }
  data.measures[0].second = std::to_string(revenue);
  return data;
}

}  // namespace test_support
