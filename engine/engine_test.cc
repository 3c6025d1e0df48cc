#include "engine/engine.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/engine_driver.h"
#include "tests/support/scenario_text.h"

namespace market {
namespace {

using test_support::AgentRule;
using test_support::AuctionToml;
using test_support::BidRule;
using test_support::GoodToml;
using test_support::MustParse;
using test_support::RunSession;
using test_support::SessionRun;
using test_support::Tag;
using test_support::WantedGood;

// One auction, one participant, goods and rivals given by the case.
std::string SmallScenario(const std::string& rivals, const std::string& goods,
                          const std::string& auction_rivals = "") {
  return "tick_ms = 20\nprice_step = 100\ncollision_increment = 150\nmax_collisions = 2\n"
         "sanctions_before_expulsion = 2\nfine_base = 500\nfine_percent = 10\n"
         "[[registry]]\nlogin = \"CLogin\"\npassword = \"TGatekeep\"\n" +
         rivals + "[[auctions]]\n" + auction_rivals + "goods = [" + goods + "]\n";
}

// Bids on exactly the announced prices listed, as "offer g1 900" lines.
BidRule BidsOn(std::set<std::string> lines) {
  return [lines](const std::string& line, const std::vector<std::string>&) {
    return lines.count(line) > 0;
  };
}

const std::vector<std::string> kOpening = {"accept", "open_auction 1"};

std::vector<std::string> Cat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Engine, ScriptedBidPatternsGiveExactMessages) {
  const std::string one_good = GoodToml("g1", 1000, 1500, 750);
  // Vera values g1 at exactly its resale price 900 (valuation 100%).
  const std::string vera =
      "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\nvaluation = [100, 100]\n";
  const std::string g900 = GoodToml("g1", 1000, 900, 500);
  const std::string tail = "end_round 1";
  const struct {
    const char* name;
    std::string rivals;
    std::string goods;
    BidRule rule;
    std::vector<std::string> expected;
  } cases[] = {
      {"single bid on the first price: sold at it",
       "",
       one_good,
       BidsOn({"offer g1 1000"}),
       {"buyers CLogin", "goods g1 k s 1000 1500", "open_round 1", "good g1 k s 1000 1500",
        "offer g1 1000", "sold CLogin 1000", tail}},
      {"a bid after two steps down",
       "",
       one_good,
       BidsOn({"offer g1 800"}),
       {"buyers CLogin", "goods g1 k s 1000 1500", "open_round 1", "good g1 k s 1000 1500",
        "offer g1 1000", "offer g1 900", "offer g1 800", "sold CLogin 800", tail}},
      {"no bids down to the reserve: out of market with the reserve",
       "",
       one_good,
       BidsOn({}),
       {"buyers CLogin", "goods g1 k s 1000 1500", "open_round 1", "good g1 k s 1000 1500",
        "offer g1 1000", "offer g1 900", "offer g1 800", "out_of_market g1 750", tail}},
      {"two bids in one tick: collision at the raised price, then the clock runs down",
       vera,
       g900,
       BidsOn({"offer g1 900"}),
       {"buyers CLogin Vera", "goods g1 k s 1000 900", "open_round 1", "good g1 k s 1000 900",
        "offer g1 1000", "offer g1 900", "collision g1 1050", "offer g1 950", "offer g1 850",
        "sold Vera 850", tail}},
      {"a collision price is open to bids: the agent alone takes it",
       vera,
       g900,
       BidsOn({"offer g1 900", "collision g1 1050"}),
       {"buyers CLogin Vera", "goods g1 k s 1000 900", "open_round 1", "good g1 k s 1000 900",
        "offer g1 1000", "offer g1 900", "collision g1 1050", "sold CLogin 1050", tail}},
      {"a rival alone",
       vera,
       g900,
       BidsOn({}),
       {"buyers CLogin Vera", "goods g1 k s 1000 900", "open_round 1", "good g1 k s 1000 900",
        "offer g1 1000", "offer g1 900", "sold Vera 900", tail}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Engine engine(MustParse(SmallScenario(c.rivals, c.goods)), 1);
    SessionRun run = RunSession(engine, c.rule);
    EXPECT_EQ(run.lines, Cat(Cat(kOpening, c.expected), {"end_auction 1", "closed_market"}));
    EXPECT_TRUE(run.closed);
    EXPECT_EQ(engine.stage(), Engine::Stage::kClosed);
    EXPECT_TRUE(engine.results().completed);
  }
}

TEST(Engine, CollisionsUpToTheLimitThenASeededTieBreak) {
  // Both always bid: max_collisions (2) collisions, then the seed picks the buyer.
  const std::string vera =
      "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\nvaluation = [500, 500]\n";
  const std::string good = GoodToml("g1", 1000, 900, 500);
  const BidRule always = [](const std::string&, const std::vector<std::string>&) { return true; };
  std::set<std::string> winners;
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    Engine engine(MustParse(SmallScenario(vera, good)), seed);
    SessionRun run = RunSession(engine, always);
    const std::vector<std::string> expected_head = {
        "accept",           "open_auction 1",       "buyers CLogin Vera", "goods g1 k s 1000 900",
        "open_round 1",     "good g1 k s 1000 900", "offer g1 1000",      "collision g1 1150",
        "collision g1 1300"};
    ASSERT_GE(run.lines.size(), expected_head.size() + 1);
    EXPECT_EQ(std::vector<std::string>(run.lines.begin(), run.lines.begin() + 9), expected_head);
    const std::string sale = run.lines[9];
    EXPECT_TRUE(sale == "sold CLogin 1300" || sale == "sold Vera 1300") << sale;
    winners.insert(sale);
    EXPECT_EQ(engine.results().auctions[0].goods[0].collisions, 2);
    // The same seed decides the same way.
    Engine again(MustParse(SmallScenario(vera, good)), seed);
    EXPECT_EQ(RunSession(again, always).lines, run.lines);
  }
  EXPECT_EQ(winners.size(), 2u) << "the tie-break should pick both buyers over 12 seeds";
}

TEST(Engine, OverspendingDrawsSanctionsThenExpulsionAndANewBuyersList) {
  const std::string goods = GoodToml("g1", 30000, 40000, 29000) + "," +
                            GoodToml("g2", 30000, 40000, 29800) + "," +
                            GoodToml("g3", 1000, 4000, 900);
  // Otto never bids (valuation 1% of resale) but stays in the buyers list.
  const std::string otto =
      "[[rivals]]\nname = \"Otto\"\nstrategy = \"value\"\nvaluation = [1, 1]\n";
  // The participant bids on every price: it pays 30000 for g1, then cannot pay 30000 for g2
  // (20000 left), is fined 500 + 10% = 3500 twice and expelled; its later bids are ignored.
  const BidRule always = [](const std::string&, const std::vector<std::string>&) { return true; };
  Engine engine(MustParse(SmallScenario(otto, goods)), 1);
  SessionRun run = RunSession(engine, always);
  const std::vector<std::string> expected = {
      "accept",
      "open_auction 1",
      "buyers CLogin Otto",
      "goods g1 k s 30000 40000 g2 k s 30000 40000 g3 k s 1000 4000",
      "open_round 1",
      "good g1 k s 30000 40000",
      "offer g1 30000",
      "sold CLogin 30000",
      "good g2 k s 30000 40000",
      "offer g2 30000",
      "sanction CLogin 3500",
      "offer g2 30000",
      "sanction CLogin 3500",
      "expulsion CLogin",
      "buyers Otto",
      "offer g2 30000",
      "offer g2 29900",
      "offer g2 29800",
      "out_of_market g2 29800",
      "good g3 k s 1000 4000",
      "offer g3 1000",
      "offer g3 900",
      "out_of_market g3 900",
      "end_round 1",
      "end_auction 1",
      "closed_market"};
  EXPECT_EQ(run.lines, expected);
  const BuyerResult& agent = engine.results().auctions[0].buyers[0];
  EXPECT_EQ(agent.name, "CLogin");
  EXPECT_EQ(agent.purchases, 1);
  EXPECT_EQ(agent.spend, 30000);
  EXPECT_EQ(agent.benefit, 10000);
  EXPECT_EQ(agent.sanctions, 2);
  EXPECT_EQ(agent.fines, 7000);
  EXPECT_TRUE(agent.expelled);
  EXPECT_EQ(engine.results().auctions[0].goods[1].sanctions, 2);
  EXPECT_GE(engine.results().ignored_total, 4);  // the expelled buyer's bids
}

TEST(Engine, PriceEqualToTheRemainingCreditIsASale) {
  const std::string goods =
      GoodToml("g1", 30000, 40000, 100) + "," + GoodToml("g2", 20000, 40000, 100);
  const BidRule always = [](const std::string&, const std::vector<std::string>&) { return true; };
  Engine engine(MustParse(SmallScenario("", goods)), 1);
  SessionRun run = RunSession(engine, always);
  EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "sold CLogin 30000"), 1);
  EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "sold CLogin 20000"), 1);
  EXPECT_EQ(engine.results().auctions[0].buyers[0].sanctions, 0);
}

TEST(Engine, CreditAndExpulsionStartAfreshInEachAuction) {
  const std::string good =
      GoodToml("g1", 45000, 50000, 100) + "," + GoodToml("g2", 45000, 50000, 44900);
  std::string text = SmallScenario("", good);
  text += "[[auctions]]\ngoods = [" + good + "]\n";
  const BidRule always = [](const std::string&, const std::vector<std::string>&) { return true; };
  Engine engine(MustParse(text), 1);
  SessionRun run = RunSession(engine, always);
  ASSERT_EQ(engine.results().auctions.size(), 2u);
  for (const AuctionResult& auction : engine.results().auctions) {
    SCOPED_TRACE(auction.number);
    EXPECT_EQ(auction.buyers[0].spend, 45000);
    EXPECT_TRUE(auction.buyers[0].expelled);
  }
  // Expelled in auction 1, listed again in auction 2.
  EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "buyers CLogin"), 2);
}

TEST(Engine, OneTickPerAdvanceAndOnlyOnceItsDeadlineHasPassed) {
  Engine engine(MustParse(SmallScenario("", WantedGood())), 1);
  engine.Connect(1, "CLogin");
  engine.OnLine(1, "admission CLogin TGatekeep");
  engine.Start(Nanos{0});
  engine.TakeOutgoing();
  const Nanos tick = std::chrono::milliseconds(20);
  ASSERT_EQ(engine.NextDeadline(), tick);
  engine.Advance(tick - Nanos{1});
  EXPECT_TRUE(engine.TakeOutgoing().empty());
  // A driver far behind still gets one step per call, and the new price its whole tick.
  const Nanos late = std::chrono::seconds(5);
  engine.Advance(late);
  std::vector<Outgoing> out = engine.TakeOutgoing();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].line, "offer g1 900");
  EXPECT_EQ(engine.NextDeadline(), late + tick);
  // A bid sent while 900 is in force counts at 900, however late the tick is decided.
  engine.OnLine(1, "bid");
  engine.OnLine(1, "bid");  // counts once
  engine.Advance(late + 3 * tick);
  out = engine.TakeOutgoing();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0].line, "sold CLogin 900");
}

TEST(Engine, AdmissionOutcomes) {
  const std::string text = SmallScenario("", WantedGood());
  const struct {
    const char* name;
    std::optional<std::string> required;
    std::string line;
    std::vector<std::string> replies;
    bool closed;
  } cases[] = {
      {"right login and password", "CLogin", "admission CLogin TGatekeep", {"accept"}, false},
      {"any registered login without a binding",
       std::nullopt,
       "admission CLogin TGatekeep",
       {"accept"},
       false},
      {"trailing carriage return", "CLogin", "admission CLogin TGatekeep\r", {"accept"}, false},
      {"wrong password", "CLogin", "admission CLogin nope", {"deny bad_password"}, true},
      {"login not registered", std::nullopt, "admission Mallory pw", {"deny unknown_buyer"}, true},
      {"another login than the one bound",
       "CLogin",
       "admission Other TGatekeep",
       {"deny login_mismatch"},
       true},
      {"missing password", "CLogin", "admission CLogin", {"deny malformed_admission"}, true},
      {"extra word", "CLogin", "admission CLogin TGatekeep x", {"deny malformed_admission"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Engine engine(MustParse(text), 1);
    engine.Connect(3, c.required);
    engine.OnLine(3, c.line);
    std::vector<std::string> replies;
    bool closed = false;
    for (const Outgoing& out : engine.TakeOutgoing()) {
      EXPECT_EQ(out.to, 3);
      if (out.close) {
        closed = true;
      } else {
        EXPECT_FALSE(closed) << "a line after the close";
        replies.push_back(out.line);
        // A refusal is typed as well, with the reason the line carries.
        EXPECT_EQ(out.denial.has_value(), out.line.rfind("deny ", 0) == 0) << out.line;
        if (out.denial) {
          EXPECT_EQ(out.line, std::string("deny ") + DenialText(*out.denial));
        }
      }
    }
    EXPECT_EQ(replies, c.replies);
    EXPECT_EQ(closed, c.closed);
    EXPECT_EQ(engine.Admitted(3), !c.closed);
  }
}

TEST(Engine, CommandsThatCannotApplyAreIgnoredAndRecorded) {
  Engine engine(MustParse(SmallScenario("", WantedGood())), 1);
  engine.Connect(1, "CLogin");
  engine.Connect(2, std::nullopt);
  engine.OnLine(1, "bid");
  engine.OnLine(1, "hello market");
  engine.OnLine(1, "bid now");
  engine.OnLine(1, "admission CLogin TGatekeep");
  engine.OnLine(1, "admission CLogin TGatekeep");
  engine.OnLine(2, "admission CLogin TGatekeep");  // the login is taken
  std::vector<Outgoing> out = engine.TakeOutgoing();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].line, "accept");
  EXPECT_EQ(out[1].to, 2);
  EXPECT_EQ(out[1].line, "deny already_admitted");
  EXPECT_TRUE(out[2].close);
  const Results& results = engine.results();
  ASSERT_EQ(results.ignored_total, 4);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"bid", "bid before admission"},
      {"hello market", "unknown command"},
      {"bid now", "unknown command"},
      {"admission CLogin ********", "repeated admission"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(results.ignored[i].line, expected[i].first);
    EXPECT_EQ(results.ignored[i].reason, expected[i].second);
  }
  EXPECT_EQ(results.ignored[0].from, "(not admitted)");
  EXPECT_EQ(results.ignored[3].from, "CLogin");
}

TEST(Engine, ConnectionsThatNeverLogInAreForgottenOnceGone) {
  Engine engine(MustParse(SmallScenario("", WantedGood())), 1);
  engine.Connect(1, std::nullopt);
  engine.OnLine(1, "admission CLogin TGatekeep");
  // A crowd that comes and goes: garbage, wrong passwords, nothing at all.
  for (ClientId id = 2; id < 2002; ++id) {
    engine.Connect(id, std::nullopt, "10.0.0." + std::to_string(id % 7));
    if (id % 3 == 0) engine.OnLine(id, "hello market");
    if (id % 3 == 1) engine.OnLine(id, "admission CLogin wrong");
    engine.Disconnect(id);
    engine.Forget(id);
  }
  engine.Forget(1);  // admitted: its record stays
  EXPECT_EQ(engine.clients_kept(), 1u);
  EXPECT_TRUE(engine.Admitted(1));
}

TEST(Engine, PasswordsInIgnoredLinesAreNeverRecorded) {
  Engine engine(MustParse(SmallScenario("", WantedGood())), 1);
  engine.OnLine(1, "admission CLogin TGatekeep");
  engine.OnLine(1, "admission CLogin TGatekeep");
  engine.OnLine(2, "exit");
  engine.OnLine(2, "admission CLogin TGatekeep");  // after its connection was closed
  engine.RecordIgnored(3, "admission CLogin " + std::string(5000, 'x'), "line too long");
  const Results& results = engine.results();
  ASSERT_EQ(results.ignored.size(), 4u);
  EXPECT_EQ(results.ignored[0].line, "admission CLogin ********");
  EXPECT_EQ(results.ignored[2].line, "admission CLogin ********");
  EXPECT_EQ(results.ignored[2].reason, "sent after the connection was closed");
  EXPECT_EQ(results.ignored[3].line, "admission CLogin ********");
}

TEST(Engine, ParticipantThatLeavesIsDroppedFromTheBuyersList) {
  const std::string vera =
      "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\nvaluation = [1, 1]\n";
  Engine engine(MustParse(SmallScenario(vera, WantedGood())), 1);
  engine.Connect(1, std::nullopt);
  engine.Connect(2, std::nullopt);
  engine.OnLine(1, "admission CLogin TGatekeep");
  engine.Start(Nanos{0});
  engine.TakeOutgoing();
  engine.OnLine(1, "exit");
  std::vector<Outgoing> out = engine.TakeOutgoing();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].to, 1);
  EXPECT_TRUE(out[0].close);  // before the broadcast: the leaver does not get it
  EXPECT_EQ(out[1].to, kEveryone);
  EXPECT_EQ(out[1].line, "buyers Vera");
  EXPECT_TRUE(engine.results().auctions[0].buyers[0].left);
  EXPECT_EQ(engine.end_reason(), EndReason::kNotEnded);
  engine.Abandon("no one left");
  EXPECT_EQ(engine.end_reason(), EndReason::kStopped);
  EXPECT_EQ(engine.stage(), Engine::Stage::kClosed);
  EXPECT_FALSE(engine.NextDeadline().has_value());
  EXPECT_FALSE(engine.results().completed);
  EXPECT_EQ(engine.results().ended_early, "no one left");
  EXPECT_EQ(engine.results().auctions[0].goods[0].outcome, Outcome::kInterrupted);
}

TEST(Engine, RoundsAndAuctionsFollowEachOtherWithoutTicks) {
  const std::string text =
      "[[registry]]\nlogin = \"CLogin\"\npassword = \"TGatekeep\"\n"
      "[[auctions]]\nrounds = 3\ngoods = [{ id = \"g1\", kind = \"k\", seller = \"s\", "
      "initial = 100, resale = 50, reserve = 100, round = 2 }]\n"
      "[[auctions]]\n";
  Engine engine(MustParse(text), 1);
  SessionRun run =
      RunSession(engine, [](const std::string&, const std::vector<std::string>&) { return false; });
  const std::vector<std::string> expected = {
      "accept",       "open_auction 1",       "buyers CLogin",  "goods g1 k s 100 50",
      "open_round 1", "end_round 1",          "open_round 2",   "good g1 k s 100 50",
      "offer g1 100", "out_of_market g1 100", "end_round 2",    "open_round 3",
      "end_round 3",  "end_auction 1",        "open_auction 2", "buyers CLogin",
      "goods",        "open_round 1",         "end_round 1",    "end_auction 2",
      "closed_market"};
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.ticks, 1);
}

// Two registered buyers on separate connections, one good that runs down slowly, no rivals.
std::string TwoBuyerScenario(const std::string& extra = "") {
  return "tick_ms = 20\nprice_step = 100\ncollision_increment = 150\nmax_collisions = 1\n" + extra +
         "[[registry]]\nlogin = \"Ann\"\npassword = \"pa\"\n[[registry]]\nlogin = "
         "\"Bob\"\npassword = \"pb\"\n" +
         AuctionToml({WantedGood(), GoodToml("g2", 1000, 1500, 100)});
}

std::vector<std::string> LinesTo(const std::vector<Outgoing>& out, ClientId client) {
  std::vector<std::string> lines;
  for (const Outgoing& o : out) {
    if ((o.to == client || o.to == kEveryone) && !o.close) lines.push_back(o.line);
  }
  return lines;
}

TEST(Engine, BidsFromSeveralClientsInOneTickCollideAndEveryBidIsRecordedWithItsTimes) {
  using std::chrono::milliseconds;
  Engine engine(MustParse(TwoBuyerScenario()), 1);
  engine.Connect(1, std::nullopt);
  engine.Connect(2, std::nullopt);
  engine.OnLine(1, "admission Ann pa", milliseconds(1));
  engine.OnLine(2, "admission Bob pb", milliseconds(2));
  engine.Start(milliseconds(100));
  engine.TakeOutgoing();
  // Both bid while 1000 is in force (Ann twice): a collision, and Ann's repeat counts once.
  engine.OnLine(1, "bid", milliseconds(103));
  engine.OnLine(2, "bid", milliseconds(110));
  engine.OnLine(1, "bid", milliseconds(111));
  engine.Advance(milliseconds(120));
  std::vector<Outgoing> out = engine.TakeOutgoing();
  EXPECT_EQ(LinesTo(out, 1), std::vector<std::string>{"collision g1 1150"});
  EXPECT_EQ(LinesTo(out, 2), LinesTo(out, 1));
  // At the collision price Bob alone bids, late in the tick but before it is decided.
  engine.OnLine(2, "bid", milliseconds(139));
  engine.Advance(milliseconds(140));
  out = engine.TakeOutgoing();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0].line, "sold Bob 1150");
  // Between ticks of g2 before its first deadline: a bid at g2's first price.
  engine.OnLine(1, "bid", milliseconds(145));

  const Results& r = engine.results();
  const struct {
    std::string buyer;
    std::string good;
    int64_t price;
    int64_t at_us;
    int64_t response_us;
    bool counted;
  } expected[] = {
      {"Ann", "g1", 1000, 103'000, 3'000, true},
      {"Bob", "g1", 1000, 110'000, 10'000, true},
      {"Bob", "g1", 1150, 139'000, 19'000, true},
      {"Ann", "g2", 1000, 145'000, 5'000, true},
  };
  ASSERT_EQ(r.bids.size(), std::size(expected));
  for (size_t i = 0; i < r.bids.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r.bids[i].buyer, expected[i].buyer);
    EXPECT_EQ(r.bids[i].good, expected[i].good);
    EXPECT_EQ(r.bids[i].price, expected[i].price);
    EXPECT_EQ(r.bids[i].at_us, expected[i].at_us);
    EXPECT_EQ(r.bids[i].response_us, expected[i].response_us);
    EXPECT_EQ(r.bids[i].counted, expected[i].counted);
    EXPECT_EQ(r.bids[i].auction, 1);
  }
  ASSERT_EQ(r.participants.size(), 2u);
  EXPECT_EQ(r.participants[0].login, "Ann");
  EXPECT_EQ(r.participants[0].bids, 3);
  EXPECT_EQ(r.participants[1].bids, 2);
  EXPECT_EQ(r.auctions[0].goods[0].collisions, 1);
}

TEST(Engine, EveryBidLineOfAParticipantIsCountedEvenWhenIgnored) {
  Engine engine(MustParse(TwoBuyerScenario()), 1);
  engine.Connect(1, std::nullopt);
  engine.OnLine(1, "bid");  // before admission: not a participant's yet
  engine.OnLine(1, "admission Ann pa");
  engine.OnLine(1, "bid");  // no price in force
  engine.OnLine(1, "nonsense");
  engine.OnLine(1, "exit");
  engine.OnLine(1, "bid");  // after its connection was closed
  const Results& r = engine.results();
  ASSERT_EQ(r.participants.size(), 1u);
  EXPECT_EQ(r.participants[0].bids, 2);
  EXPECT_EQ(r.participants[0].faults, 1);
  EXPECT_TRUE(r.bids.empty());
  EXPECT_EQ(r.ignored_total, 4);
}

TEST(Engine, BuyerThatLeavesWithinATickCannotWinAndKeepsEarlierPurchases) {
  using std::chrono::milliseconds;
  Engine engine(MustParse(TwoBuyerScenario()), 1);
  engine.Connect(1, std::nullopt);
  engine.Connect(2, std::nullopt);
  engine.OnLine(1, "admission Ann pa");
  engine.OnLine(2, "admission Bob pb");
  engine.Start(milliseconds(0));
  engine.OnLine(1, "bid", milliseconds(5));
  engine.Advance(milliseconds(20));  // Ann buys g1 at 1000
  engine.TakeOutgoing();
  engine.OnLine(1, "bid", milliseconds(25));  // on g2, then gone within the same tick
  engine.Disconnect(1);
  std::vector<Outgoing> out = engine.TakeOutgoing();
  EXPECT_EQ(LinesTo(out, 2), std::vector<std::string>{"buyers Bob"});
  engine.Advance(milliseconds(40));
  out = engine.TakeOutgoing();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0].line, "offer g2 900");  // Ann's bid died with her connection
  const Results& r = engine.results();
  EXPECT_EQ(r.auctions[0].goods[0].buyer, "Ann");
  EXPECT_EQ(r.auctions[0].buyers[0].purchases, 1);
  EXPECT_EQ(r.auctions[0].buyers[0].spend, 1000);
  EXPECT_TRUE(r.auctions[0].buyers[0].left);
  EXPECT_TRUE(r.participants[0].left);
  EXPECT_FALSE(r.participants[1].left);
  // Drops the driver reports are kept beside the participant's record.
  engine.RecordDrop(1, "output queue overflow");
  engine.RecordDrop(9, "too many faults");
  EXPECT_EQ(r.participants[0].dropped, "output queue overflow");
  ASSERT_EQ(r.dropped.size(), 2u);
  EXPECT_EQ(r.dropped[1].from, "(not admitted)");
  EXPECT_EQ(r.dropped_total, 2);
}

TEST(Engine, FullMarketIsDeniedAndALoginThatLeftTheLobbyMayReturn) {
  Engine engine(MustParse(TwoBuyerScenario("max_buyers = 1\n")), 1);
  for (ClientId c : {1, 2, 3}) engine.Connect(c, std::nullopt);
  engine.OnLine(1, "admission Ann pa");
  engine.OnLine(2, "admission Bob pb");
  EXPECT_EQ(LinesTo(engine.TakeOutgoing(), 2), std::vector<std::string>{"deny market_full"});
  EXPECT_EQ(engine.ParticipantsPresent(), 1);
  engine.Disconnect(1);
  EXPECT_EQ(engine.ParticipantsPresent(), 0);
  engine.OnLine(3, "admission Ann pa");
  EXPECT_EQ(LinesTo(engine.TakeOutgoing(), 3), std::vector<std::string>{"accept"});
  ASSERT_EQ(engine.results().participants.size(), 1u);
  EXPECT_FALSE(engine.results().participants[0].left);
  engine.Start(Nanos{0});
  engine.TakeOutgoing();
  engine.Connect(4, std::nullopt);
  engine.OnLine(4, "admission Bob pb");
  EXPECT_EQ(LinesTo(engine.TakeOutgoing(), 4), std::vector<std::string>{"deny market_running"});
}

TEST(Engine, ALoginBackFromTheLobbyKeepsItsRecordAndTakesItsNewPlaceInTheBuyersList) {
  Engine engine(MustParse(TwoBuyerScenario()), 1);
  engine.OnLine(1, "admission Ann pa");
  engine.OnLine(2, "admission Bob pb");
  engine.RecordDrop(1, "too many faults");
  engine.Disconnect(1);
  engine.OnLine(3, "admission Ann pa");
  engine.RecordDrop(3, "output queue overflow");  // a second drop of the same login
  for (int i = 0; i < 150; ++i) engine.RecordDrop(9, "too many faults");
  engine.Start(Nanos{0});
  const std::vector<std::string> lines = LinesTo(engine.TakeOutgoing(), 2);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "buyers Bob Ann"), lines.end());
  const Results& r = engine.results();
  ASSERT_EQ(r.participants.size(), 2u);
  EXPECT_EQ(r.participants[0].login, "Ann");
  EXPECT_EQ(r.participants[0].dropped, "too many faults");
  EXPECT_EQ(r.auctions[0].buyers[1].name, "Ann");
  EXPECT_TRUE(r.auctions[0].buyers[1].participant);
  EXPECT_EQ(r.dropped_total, 152);
  ASSERT_EQ(r.dropped.size(), kMaxDroppedKept);
  EXPECT_EQ(r.dropped[1].from, "Ann");
  EXPECT_EQ(r.dropped[1].reason, "output queue overflow");
  EXPECT_EQ(r.dropped[2].from, "(not admitted)");
}

// Coming and going in the lobby costs nothing over time: the login's records are taken up again,
// and a client that held the login before can take nothing from the one that holds it now.
TEST(Engine, ALoginComingAndGoingInTheLobbyKeepsOneRecord) {
  Engine engine(MustParse(TwoBuyerScenario()), 1);
  engine.OnLine(1, "admission Bob pb");
  for (ClientId c = 2; c < 2002; ++c) {
    engine.OnLine(c, "admission Ann pa");
    engine.Disconnect(c);
    engine.Forget(c);
  }
  EXPECT_EQ(engine.clients_kept(), 1u);
  EXPECT_EQ(engine.participants_kept(), 2u);
  EXPECT_EQ(engine.ParticipantsPresent(), 1);
  engine.OnLine(3000, "admission Ann pa");
  engine.Disconnect(3000);  // still open: its record stays until it is forgotten
  engine.OnLine(3001, "admission Ann pa");
  engine.Disconnect(3000);
  engine.OnLine(3000, "exit");
  engine.Forget(3000);
  EXPECT_EQ(engine.ParticipantsPresent(), 2);
  EXPECT_TRUE(engine.Admitted(3001));
  engine.TakeOutgoing();
  engine.Start(Nanos{0});
  const std::vector<std::string> lines = LinesTo(engine.TakeOutgoing(), 3001);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "buyers Bob Ann"), lines.end());
  ASSERT_EQ(engine.results().participants.size(), 2u);
  EXPECT_FALSE(engine.results().participants[1].left);
}

TEST(Engine, ProgressCountsTheGoodsDecidedInTheAuctionInProgress) {
  const std::string good = GoodToml("g", 100, 200, 50);
  Engine engine(MustParse("tick_ms = 10\n[[registry]]\nlogin = \"CLogin\"\npassword = \"pw\"\n"
                          "[[auctions]]\ngoods = [" +
                          good + "]\ngenerated_goods = 1\n[[auctions]]\ngoods = [" + good + "]\n"),
                1);
  const auto figures = [](const Engine& e) {
    const Progress p = e.progress();
    return std::vector<int>{p.auction, p.auctions, p.goods_done, p.goods_total};
  };
  const auto progress = [&] { return figures(engine); };
  const auto sell = [&engine] {
    engine.OnLine(1, "bid");
    engine.Advance(*engine.NextDeadline());
  };
  EXPECT_EQ(progress(), (std::vector<int>{0, 2, 0, 0}));
  engine.OnLine(1, "admission CLogin pw");
  engine.Start(Nanos{0});
  EXPECT_EQ(progress(), (std::vector<int>{1, 2, 0, 2}));
  sell();
  EXPECT_EQ(progress(), (std::vector<int>{1, 2, 1, 2}));
  sell();
  EXPECT_EQ(progress(), (std::vector<int>{2, 2, 0, 1}));
  Engine abandoned = engine;
  abandoned.Abandon("the agent went away");
  EXPECT_EQ(abandoned.stage(), Engine::Stage::kClosed);
  EXPECT_EQ(figures(abandoned), (std::vector<int>{2, 2, 0, 1}));
  sell();
  EXPECT_EQ(engine.stage(), Engine::Stage::kClosed);
  EXPECT_EQ(progress(), (std::vector<int>{2, 2, 1, 1}));
}

TEST(Engine, EndReasonIsTypedAndTheFirstEndStands) {
  const std::string text = SmallScenario("", WantedGood());
  Engine closed(MustParse(text), 1);
  RunSession(closed, AgentRule());
  EXPECT_EQ(closed.end_reason(), EndReason::kCompleted);
  closed.Abandon(EndReason::kInterrupted, "too late");
  EXPECT_EQ(closed.end_reason(), EndReason::kCompleted);
  EXPECT_TRUE(closed.results().completed);
  EXPECT_EQ(closed.results().ended_early, "");

  Engine left(MustParse(text), 1);
  left.Connect(1, "CLogin");
  left.OnLine(1, "admission CLogin TGatekeep");
  left.Start(Nanos{0});
  left.Abandon(EndReason::kClientExit, "the agent left with exit");
  left.Abandon(EndReason::kInterrupted, "interrupted");
  EXPECT_EQ(left.end_reason(), EndReason::kClientExit);
  EXPECT_EQ(left.results().ended_early, "the agent left with exit");
}

Scenario LoadExample(const std::string& name) {
  ScenarioLoad load = LoadScenarioFile(std::string(SCENARIOS_DIR) + "/" + name);
  EXPECT_TRUE(load.scenario.has_value()) << load.error.ToString();
  return load.scenario.value_or(Scenario{});
}

TEST(DefaultSession, SameSeedSameSessionOtherSeedAnotherSession) {
  const Scenario scenario = LoadExample("default.toml");
  Engine first(scenario, 5);
  Engine second(scenario, 5);
  Engine third(scenario, 6);
  const SessionRun a = RunSession(first, AgentRule());
  EXPECT_EQ(RunSession(second, AgentRule()).lines, a.lines);
  EXPECT_NE(RunSession(third, AgentRule()).lines, a.lines);
}

// Every buyer present has a value for each good in the results (the agent's is the resale
// price), and the equilibrium rival counts every buyer in the buyers list, the agent included:
// with three buyers and value 900 its limit is 600 (with two it would be 450, sold at 400).
TEST(Engine, ValuesOfEveryBuyerAndTheEquilibriumBidOnTheBuyersList) {
  const std::string rivals =
      "[[rivals]]\nname = \"Eve\"\nstrategy = \"equilibrium\"\nvalue = { fixed = 900 }\n"
      "[[rivals]]\nname = \"Tom\"\nstrategy = \"truthful\"\nvalue = { fixed = 100 }\n";
  const std::string goods = GoodToml("g1", 1000, 700, 0);
  Engine engine(MustParse(SmallScenario(rivals, goods)), 1);
  const SessionRun run = RunSession(engine, BidsOn({}));
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "sold Eve 600"), run.lines.end());
  const AuctionResult& auction = engine.results().auctions[0];
  ASSERT_EQ(auction.goods[0].values.size(), 3u);
  EXPECT_EQ(auction.buyers[auction.goods[0].values[0].buyer].name, "CLogin");
  EXPECT_EQ(auction.goods[0].values[0].value, 700);
  EXPECT_EQ(auction.goods[0].values[1].value, 900);
  EXPECT_EQ(auction.buyers[auction.goods[0].values[2].buyer].name, "Tom");
  EXPECT_EQ(auction.goods[0].values[2].value, 100);
  EXPECT_EQ(auction.buyers[0].strategy, "agent");
  EXPECT_EQ(auction.buyers[1].strategy, "equilibrium");
  EXPECT_EQ(auction.buyers[2].strategy, "truthful");
}

// The reserve 450 lies between the clock's prices 500 and 400, so nothing sells below 500. A rival
// valuing the goods at 560 that took 450 for the reserve would never buy: its equilibrium bid for
// two buyers would be 460, its zero-intelligence limit below 500 for almost half the goods.
TEST(Engine, RivalsTakeTheLowestPriceTheClockOffersForTheReserve) {
  std::string goods;
  for (int i = 1; i <= 10; ++i) {
    goods += std::string(i > 1 ? ", " : "") + "{ id = \"g" + std::to_string(i) +
             "\", kind = \"k\", seller = \"s\", initial = 1000, resale = 700, reserve = 450 }";
  }
  for (const std::string strategy : {"equilibrium", "zero_intelligence"}) {
    SCOPED_TRACE(strategy);
    const std::string rivals =
        "[[rivals]]\nname = \"Eve\"\nstrategy = \"" + strategy + "\"\nvalue = { fixed = 560 }\n";
    Engine engine(MustParse(SmallScenario(rivals, goods)), 1);
    RunSession(engine, BidsOn({}));
    for (const GoodResult& good : engine.results().auctions[0].goods) {
      EXPECT_EQ(good.outcome, Outcome::kSold) << good.good.id;
      EXPECT_EQ(good.buyer, "Eve");
      EXPECT_EQ(good.price, 500);
    }
  }
}

// The engine tells each rival how every good ended: the adaptive rival wins g1 unshaded, then
// shades 50 points and lets g2 run down to half its value.
TEST(Engine, AnAdaptiveRivalLearnsFromTheGoodsItWins) {
  const std::string rivals =
      "[[rivals]]\nname = \"Ada\"\nstrategy = \"adaptive\"\nvalue = { fixed = 1000 }\n"
      "shade = 0\nlearning_rate = 50\n";
  const std::string goods = GoodToml("g1", 1000, 700, 0) + ", " + GoodToml("g2", 1000, 700, 0);
  Engine engine(MustParse(SmallScenario(rivals, goods)), 1);
  RunSession(engine, BidsOn({}));
  const AuctionResult& auction = engine.results().auctions[0];
  EXPECT_EQ(auction.goods[0].price, 1000);
  EXPECT_EQ(auction.goods[1].buyer, "Ada");
  EXPECT_EQ(auction.goods[1].price, 500);
}

}  // namespace
}  // namespace market
