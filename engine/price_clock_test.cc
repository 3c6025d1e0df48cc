// The price clock each good keeps in the results: every announced price with its time, every
// bid that took part in a tick (rivals' too), and when the good ended.
#include <chrono>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "tests/support/engine_driver.h"
#include "tests/support/scenario_text.h"

namespace market {
namespace {

using std::chrono::milliseconds;
using test_support::AuctionToml;
using test_support::GoodToml;
using test_support::MustParse;
using test_support::RunSession;
using test_support::ThreeBuyers;
using test_support::WantedGood;
using Kind = ClockStep::Kind;

struct Step {
  int64_t at_us;
  int64_t price;
  Kind kind;
  bool operator==(const Step&) const = default;
};
struct Bid {
  int64_t at_us;
  int64_t price;
  std::string buyer;
  bool operator==(const Bid&) const = default;
};

std::vector<Step> Steps(const GoodResult& good) {
  std::vector<Step> out;
  for (const ClockStep& s : good.clock) out.push_back({s.at_us, s.price, s.kind});
  return out;
}
std::vector<Bid> Bids(const GoodResult& good, const AuctionResult& auction) {
  std::vector<Bid> out;
  for (const TickBid& b : good.tick_bids.Unpacked()) {
    out.push_back({b.at_us, b.price, auction.buyers.at(b.buyer).name});
  }
  return out;
}

void PrintTo(const Step& s, std::ostream* os) {
  *os << "{" << s.at_us << ", " << s.price
      << (s.kind == Kind::kOffer ? ", offer}" : ", collision}");
}
void PrintTo(const Bid& b, std::ostream* os) {
  *os << "{" << b.at_us << ", " << b.price << ", " << b.buyer << "}";
}

// One participant (CLogin) bidding on the listed announcements, maybe a rival Vera who values
// the good at 900; tick_ms 20 and the driver's clock starts at 0, so the k-th tick is announced
// at k * 20 ms and decided at (k + 1) * 20 ms.
std::string ScenarioText(bool vera) {
  return std::string(
             "tick_ms = 20\nprice_step = 100\ncollision_increment = 150\nmax_collisions = 2\n"
             "[[registry]]\nlogin = \"CLogin\"\npassword = \"TGatekeep\"\n") +
         (vera ? "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\nvaluation = [100, 100]\n"
               : "") +
         AuctionToml({GoodToml("g1", 1000, 900, 750)});
}

TEST(PriceClock, RecordsEveryAnnouncedPriceEveryTickBidAndTheEnd) {
  const struct {
    const char* name;
    bool vera;
    std::set<std::string> bids_on;
    std::vector<Step> clock;
    std::vector<Bid> tick_bids;
    Outcome outcome;
    int64_t ended_us;
  } cases[] = {
      {"no bids: the clock runs down to the reserve and the good leaves the market",
       false,
       {},
       {{0, 1000, Kind::kOffer}, {20'000, 900, Kind::kOffer}, {40'000, 800, Kind::kOffer}},
       {},
       Outcome::kUnsold,
       60'000},
      {"the agent and the rival collide at 900; the rival alone buys at 850",
       true,
       {"offer g1 900"},
       {{0, 1000, Kind::kOffer},
        {20'000, 900, Kind::kOffer},
        {40'000, 1050, Kind::kCollision},
        {60'000, 950, Kind::kOffer},
        {80'000, 850, Kind::kOffer}},
       // The agent's bid at its arrival, the rival's when the tick is decided.
       {{20'000, 900, "CLogin"}, {40'000, 900, "Vera"}, {100'000, 850, "Vera"}},
       Outcome::kSold,
       100'000},
      {"the agent alone takes the collision price",
       true,
       {"offer g1 900", "collision g1 1050"},
       {{0, 1000, Kind::kOffer}, {20'000, 900, Kind::kOffer}, {40'000, 1050, Kind::kCollision}},
       {{20'000, 900, "CLogin"}, {40'000, 900, "Vera"}, {40'000, 1050, "CLogin"}},
       Outcome::kSold,
       60'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Engine engine(MustParse(ScenarioText(c.vera)), 1);
    const std::set<std::string> bids_on = c.bids_on;
    RunSession(engine, [&](const std::string& line, const std::vector<std::string>&) {
      return bids_on.count(line) > 0;
    });
    const AuctionResult& auction = engine.results().auctions.at(0);
    const GoodResult& good = auction.goods.at(0);
    EXPECT_EQ(good.outcome, c.outcome);
    EXPECT_EQ(Steps(good), c.clock);
    EXPECT_EQ(Bids(good, auction), c.tick_bids);
    EXPECT_EQ(good.ended_us, c.ended_us);
  }
}

// Two participants on their own connections: their bids at their arrival times; a bid whose
// buyer left before its tick was decided took no part; the good under the hammer when the
// session is abandoned ends then, and the goods never offered have no clock.
TEST(PriceClock, ParticipantsBidsAtArrivalAndAnInterruptedGood) {
  Engine engine(
      MustParse("tick_ms = 20\nprice_step = 100\ncollision_increment = 150\nmax_collisions = 1\n" +
                ThreeBuyers() +
                AuctionToml({WantedGood(), GoodToml("g2", 2000, 1500, 100),
                             GoodToml("g3", 2000, 1500, 100)})),
      1);
  engine.OnLine(1, "admission Ann pa", milliseconds(1));
  engine.OnLine(2, "admission Bob pb", milliseconds(2));
  engine.OnLine(3, "admission Cy pc", milliseconds(3));
  engine.Start(milliseconds(100));
  engine.OnLine(1, "bid", milliseconds(103));
  engine.OnLine(2, "bid", milliseconds(110));
  engine.OnLine(1, "bid", milliseconds(111));  // a repeat: one bid in the tick
  engine.Advance(milliseconds(120));           // collision at 1150
  engine.OnLine(2, "bid", milliseconds(139));
  engine.OnLine(3, "bid", milliseconds(135));
  engine.Disconnect(3);               // Cy's bid never takes part
  engine.Advance(milliseconds(141));  // sold to Bob
  engine.Advance(milliseconds(162));  // g2: 1900
  engine.OnLine(1, "bid", milliseconds(170));
  engine.Abandon("stopped");

  const AuctionResult& auction = engine.results().auctions.at(0);
  const GoodResult& g1 = auction.goods.at(0);
  EXPECT_EQ(Steps(g1),
            (std::vector<Step>{{100'000, 1000, Kind::kOffer}, {120'000, 1150, Kind::kCollision}}));
  EXPECT_EQ(
      Bids(g1, auction),
      (std::vector<Bid>{{103'000, 1000, "Ann"}, {110'000, 1000, "Bob"}, {139'000, 1150, "Bob"}}));
  EXPECT_EQ(g1.outcome, Outcome::kSold);
  EXPECT_EQ(g1.ended_us, 141'000);

  const GoodResult& g2 = auction.goods.at(1);
  EXPECT_EQ(Steps(g2),
            (std::vector<Step>{{141'000, 2000, Kind::kOffer}, {162'000, 1900, Kind::kOffer}}));
  EXPECT_TRUE(g2.tick_bids.empty()) << "Ann's bid at 1900 was never decided";
  EXPECT_EQ(g2.outcome, Outcome::kInterrupted);
  EXPECT_EQ(g2.ended_us, 170'000);

  const GoodResult& g3 = auction.goods.at(2);
  EXPECT_TRUE(g3.clock.empty());
  EXPECT_EQ(g3.outcome, Outcome::kPending);
  EXPECT_FALSE(g3.ended_us.has_value());
}

// A whole session of the built-in scenario with its rivals: every good's clock is a price clock
// (the initial price first, steps down by the auction's step or up by the collision increment,
// a price offered again only after a voided sale), every tick bid is at a price in force at its
// time, and a sale is at the last price announced.
TEST(PriceClock, AWholeSessionsClocksFollowTheMarketsRules) {
  const Scenario scenario = MustParse(std::string(DefaultScenarioText()));
  Engine engine(scenario, 5);
  RunSession(engine, test_support::AgentRule());
  const Results& r = engine.results();
  ASSERT_TRUE(r.completed);
  size_t goods = 0, collisions = 0, rival_bids = 0;
  for (size_t a = 0; a < r.auctions.size(); ++a) {
    const AuctionResult& auction = r.auctions[a];
    const int64_t step = engine.plan().auctions[a].price_step;
    for (const GoodResult& good : auction.goods) {
      SCOPED_TRACE(good.good.id);
      ++goods;
      ASSERT_FALSE(good.clock.empty());
      EXPECT_EQ(good.clock.front().price, good.good.initial);
      EXPECT_EQ(good.clock.front().kind, Kind::kOffer);
      int voided = 0, rises = 0;
      for (size_t i = 1; i < good.clock.size(); ++i) {
        const ClockStep& prev = good.clock[i - 1];
        const ClockStep& s = good.clock[i];
        EXPECT_EQ(s.at_us - prev.at_us, scenario.tick_ms * 1000);
        if (s.kind == Kind::kCollision) {
          ++rises;
          EXPECT_EQ(s.price, prev.price + scenario.collision_increment);
        } else if (s.price == prev.price) {
          ++voided;
        } else {
          EXPECT_EQ(s.price, prev.price - step);
        }
      }
      EXPECT_EQ(rises, good.collisions);
      collisions += static_cast<size_t>(rises);
      EXPECT_EQ(voided, good.sanctions);
      EXPECT_GE(good.clock.back().price, good.good.reserve);
      const std::vector<TickBid> tick_bids = good.tick_bids.Unpacked();
      for (const TickBid& bid : tick_bids) {
        ASSERT_LT(bid.buyer, auction.buyers.size());
        rival_bids += !auction.buyers[bid.buyer].participant;
        // The step in force when the bid was made (a rival's: decided at the tick's end).
        const ClockStep* in_force = nullptr;
        for (const ClockStep& s : good.clock) {
          if (s.at_us <= bid.at_us && s.at_us + scenario.tick_ms * 1000 >= bid.at_us) {
            if (s.price == bid.price) in_force = &s;
          }
        }
        EXPECT_NE(in_force, nullptr) << "a bid at " << bid.price << " at " << bid.at_us;
      }
      if (good.outcome == Outcome::kSold) {
        EXPECT_EQ(good.price, good.clock.back().price);
        ASSERT_FALSE(tick_bids.empty());
        EXPECT_EQ(tick_bids.back().price, good.price);
        EXPECT_EQ(good.ended_us, good.clock.back().at_us + scenario.tick_ms * 1000);
      }
    }
  }
  EXPECT_GT(goods, 10u);
  EXPECT_GT(collisions, 0u) << "the scenario should show collisions";
  EXPECT_GT(rival_bids, 0u);
}

}  // namespace
}  // namespace market
