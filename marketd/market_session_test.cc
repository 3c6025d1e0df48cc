// The networked session's rules in process, on a clock the test moves: admission window,
// min_buyers and a full market, the ends of a session and their exit status, faults and drops,
// and which price a bid counts at.

#include "marketd/market_session.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session/exit_codes.h"
#include "tests/support/market_fixture.h"
#include "tests/support/scenario_text.h"
#include "wire/idle_line.h"

namespace marketd {
namespace {

using market::ClientId;
using market::EndReason;
using session::Nanos;
using test_support::AuctionToml;
using test_support::GoodToml;
using test_support::Market;
using test_support::Ms;
using test_support::Parse;
using test_support::ThreeBuyers;
using test_support::UnwantedGood;
using test_support::WantedGood;

const std::string kRegistry = ThreeBuyers();
// Nobody wants g1: two offers of a tick each, then the market closes (at 200 ms from the start).
const std::string kUnwanted = AuctionToml({UnwantedGood()});
const std::string kWanted = AuctionToml({WantedGood()});

TEST(MarketSession, StartsAfterTheWindowWithMinBuyersOrAtOnceWhenFull) {
  const std::string text =
      "tick_ms = 100\nadmission_window_ms = 1000\nmin_buyers = 2\n" + kRegistry + kUnwanted;
  const struct {
    const char* name;
    std::vector<std::tuple<int64_t, ClientId, std::string>> admissions;  // at ms, id, login
    std::optional<Nanos> start;
  } cases[] = {
      {"two in the window start when it ends", {{10, 1, "Ann"}, {20, 2, "Bob"}}, Ms(1000)},
      {"one waits past the window for a second", {{10, 1, "Ann"}, {1500, 2, "Bob"}}, Ms(1500)},
      {"a full market starts at once", {{10, 1, "Ann"}, {20, 2, "Bob"}, {30, 3, "Cy"}}, Ms(30)},
      {"too few never start", {{10, 1, "Ann"}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Market m(text);
    for (const auto& [at, id, login] : c.admissions) {
      m.RunUntil(Ms(at));
      m.Admit(id, login, login == "Ann" ? "pa" : login == "Bob" ? "pb" : "pc");
    }
    m.RunUntil(Ms(3000));
    EXPECT_EQ(m.connections.opened, c.start);
    EXPECT_FALSE(m.session.finished());  // nobody hung up, and the linger time runs
  }
  // A connection after the start is refused and done with.
  Market m(text);
  m.Admit(1, "Ann", "pa");
  m.Admit(2, "Bob", "pb");
  m.RunUntil(Ms(1050));
  m.Admit(3, "Cy", "pc");
  EXPECT_EQ(m.connections.sent[3], std::vector<std::string>{"deny market_running"});
  EXPECT_EQ(m.connections.closed.count(3), 1u);
}

TEST(MarketSession, EndsWithTheRightReasonTimeAndExitStatus) {
  const std::string text = "tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kUnwanted;
  const struct {
    const char* name;
    std::function<void(Market&)> script;  // after Ann (1) and Bob (2) are admitted at 0
    EndReason end;
    Nanos finished_at;
    std::string ended_early;
  } cases[] = {
      {"the market closes and both buyers hang up",
       [](Market& m) {
         m.RunUntil(Ms(1000));
         m.HangUp(1);
         m.HangUp(2);
       },
       EndReason::kCompleted, Ms(1000), ""},
      {"a buyer that stays connected is waited for until the linger time is over",
       [](Market& m) {
         m.RunUntil(Ms(1000));
         m.HangUp(1);
         m.RunUntil(Ms(60'000));
       },
       EndReason::kCompleted, Ms(200 + 5000), ""},
      {"every buyer leaves mid-session",
       [](Market& m) {
         m.RunUntil(Ms(50));
         m.HangUp(1);
         m.RunUntil(Ms(150));
         m.HangUp(2);
       },
       EndReason::kClientsGone, Ms(150), "every buyer left"},
      {"one buyer leaves, the other stays to the close",
       [](Market& m) {
         m.RunUntil(Ms(50));
         m.HangUp(1);
         m.RunUntil(Ms(300));
         m.HangUp(2);
       },
       EndReason::kCompleted, Ms(300), ""},
      {"interrupted",
       [](Market& m) {
         m.RunUntil(Ms(50));
         m.session.Interrupt();
       },
       EndReason::kInterrupted, Ms(50), "interrupted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Market m(text);
    m.Admit(1, "Ann", "pa");
    m.Admit(2, "Bob", "pb");
    c.script(m);
    ASSERT_TRUE(m.session.finished());
    EXPECT_EQ(m.clock.Now(), c.finished_at);
    EXPECT_EQ(m.session.end_reason(), c.end);
    EXPECT_EQ(m.session.results().ended_early, c.ended_early);
    EXPECT_EQ(session::ExitStatusFor(m.session.end_reason()),
              c.end == EndReason::kCompleted ? session::kExitOk : session::kExitSessionFailed);
    EXPECT_FALSE(m.connections.accepting);
    EXPECT_EQ(m.connections.closed, (std::set<ClientId>{1, 2})) << "every connection is closed";
    EXPECT_EQ(m.session.NextWake(), std::nullopt);
  }
}

TEST(MarketSession, FaultsAndAFullQueueDropTheBuyerWhoLeavesTheList) {
  const std::string text = "tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kUnwanted;
  const struct {
    const char* name;
    std::function<void(Market&)> fault;  // by Ann (1) in the first tick
    std::string dropped;
  } cases[] = {
      {"three lines that are no command",
       [](Market& m) {
         m.Say(1, "hello");
         m.Say(1, "", true);  // overlong
         m.Say(1, "exit now");
       },
       "too many faults (3 lines refused)"},
      {"output that would overflow the queue",
       [](Market& m) {
         m.connections.line_limit[1] = m.connections.sent[1].size();
         m.RunUntil(Ms(100));  // the next offer does not fit
       },
       "output queue overflow (1048576 bytes unsent)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Market m(text);
    m.Admit(1, "Ann", "pa");
    m.Admit(2, "Bob", "pb");
    m.RunUntil(Ms(10));
    ASSERT_TRUE(m.Got(2, "buyers Ann Bob"));
    c.fault(m);
    EXPECT_EQ(m.connections.closed.count(1), 1u);
    EXPECT_TRUE(m.Got(2, "buyers Bob")) << "Ann leaves the buyers list";
    m.RunUntil(Ms(1000));
    EXPECT_TRUE(m.Got(2, "closed_market"));
    const market::Results& results = m.session.results();
    ASSERT_EQ(results.dropped.size(), 1u);
    EXPECT_EQ(results.dropped[0].from, "Ann");
    EXPECT_EQ(results.dropped[0].reason, c.dropped);
    EXPECT_TRUE(results.completed);
  }
}

// The stepped clock: a tick ends as soon as every admitted buyer's relay has said "idle" for all
// it was sent, else at its deadline, a late tick of each buyer still busy then.
TEST(MarketSession, OnTheSteppedClockATickEndsWhenEveryRelayIsIdleOrAtItsDeadline) {
  const std::string text = "tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kUnwanted;
  ServerOptions options;
  options.stepped = true;
  const struct {
    const char* name;
    std::function<void(Market&)> answer;  // in the first tick, after Ann's "idle"
    bool ends_at_once;
  } cases[] = {
      {"both idle", [](Market& m) { m.Say(2, wire::IdleLine(m.BytesSent(2))); }, true},
      {"Bob never says", [](Market&) {}, false},
      {"Bob idle for less than he was sent",
       [](Market& m) { m.Say(2, wire::IdleLine(m.BytesSent(2) - 1)); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Market m(text, options);
    m.Admit(1, "Ann", "pa");
    m.Admit(2, "Bob", "pb");
    m.RunUntil(Ms(0));
    ASSERT_TRUE(m.Got(1, "offer g1 300"));
    m.Say(1, wire::IdleLine(m.BytesSent(1)));
    EXPECT_EQ(m.stepped.Now(), Ms(0)) << "Bob has not answered yet";
    c.answer(m);
    EXPECT_EQ(m.stepped.Now(), c.ends_at_once ? Ms(100) : Ms(0));
    EXPECT_EQ(m.session.NextWake(), Ms(100));
    m.RunUntil(Ms(100));
    EXPECT_TRUE(m.Got(1, "offer g1 200"));
    EXPECT_EQ(m.clock.Now(), c.ends_at_once ? Ms(0) : Ms(100)) << "the machine's time";
    const market::Results& results = m.session.results();
    ASSERT_EQ(results.participants.size(), 2u);
    EXPECT_EQ(results.participants[0].late_ticks, 0) << "Ann answered";
    EXPECT_EQ(results.participants[1].late_ticks, c.ends_at_once ? 0 : 1);
    EXPECT_EQ(results.participants[1].faults, 0) << "the relay's word is no fault";
    EXPECT_EQ(results.clock, "stepped");
  }
}

// A whole session: with both relays answering every tick it takes no time on the machine's
// clock; with one that never answers, every tick waits for its deadline and is late for it.
TEST(MarketSession, ASteppedSessionRunsAsFastAsItsRelaysAnswerAndCountsLateTicks) {
  const std::string text = "tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kUnwanted;
  ServerOptions options;
  options.stepped = true;
  for (const bool bob_answers : {true, false}) {
    SCOPED_TRACE(bob_answers);
    Market m(text, options);
    m.Admit(1, "Ann", "pa");
    m.Admit(2, "Bob", "pb");
    for (int turn = 0; turn < 100 && !m.Got(1, "closed_market"); ++turn) {
      m.RunUntil(m.stepped.Now());
      m.Say(1, wire::IdleLine(m.BytesSent(1)));
      if (bob_answers) m.Say(2, wire::IdleLine(m.BytesSent(2)));
      if (!bob_answers) m.RunUntil(m.stepped.Now() + Ms(100));
    }
    ASSERT_TRUE(m.Got(1, "closed_market"));
    const market::Results& results = m.session.results();
    EXPECT_TRUE(results.completed);
    EXPECT_EQ(m.clock.Now(), bob_answers ? Ms(0) : Ms(200));
    EXPECT_EQ(results.participants[0].late_ticks, 0);
    EXPECT_EQ(results.participants[1].late_ticks, bob_answers ? 0 : 2);
  }
}

// The relay's word means nothing on the real clock: an unknown line, a fault like any other, and
// it never moves the clock.
TEST(MarketSession, OnTheRealClockTheIdleWordIsAFault) {
  const std::string text = "tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kUnwanted;
  Market m(text);
  m.Admit(1, "Ann", "pa");
  m.Admit(2, "Bob", "pb");
  m.RunUntil(Ms(0));
  m.Say(2, wire::IdleLine(m.BytesSent(2)));
  m.Say(1, wire::IdleLine(m.BytesSent(1)));
  EXPECT_EQ(m.stepped.Now(), Ms(0));
  EXPECT_EQ(m.session.results().participants[0].faults, 1);
  EXPECT_EQ(m.session.results().clock, "real");
  // An agent's own "~idle" reaches a stepped server escaped by its relay: a fault too.
  ServerOptions options;
  options.stepped = true;
  Market s(text, options);
  s.Admit(1, "Ann", "pa");
  s.Admit(2, "Bob", "pb");
  s.RunUntil(Ms(0));
  s.Say(1, "~" + wire::IdleLine(s.BytesSent(1)));
  s.Say(2, wire::IdleLine(s.BytesSent(2)));
  EXPECT_EQ(s.stepped.Now(), Ms(0));
  EXPECT_EQ(s.session.results().participants[0].faults, 1);
}

TEST(MarketSession, ABidCountsAtThePriceInForceWhenItArrives) {
  const std::string text = "tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kWanted;
  const struct {
    int64_t at_ms;
    std::string sale;
  } cases[] = {
      {0, "sold Ann 1000"}, {99, "sold Ann 1000"}, {101, "sold Ann 900"}, {250, "sold Ann 800"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at_ms);
    Market m(text);
    m.Admit(1, "Ann", "pa");
    m.Admit(2, "Bob", "pb");
    m.RunUntil(Ms(0));
    ASSERT_TRUE(m.Got(1, "offer g1 1000"));
    m.RunUntil(Ms(c.at_ms));
    m.Say(1, "bid");
    m.RunUntil(Ms(5000));
    EXPECT_TRUE(m.Got(2, c.sale));
  }
}

TEST(MarketSession, BuyerGoneWithinATickLeavesTheListKeepsItsPurchaseAndCannotWin) {
  const std::string text =
      "tick_ms = 150\nadmission_window_ms = 0\n" + kRegistry +
      AuctionToml({GoodToml("g1", 1000, 900, 700), GoodToml("g2", 1000, 900, 700)});
  Market m(text);
  m.Admit(1, "Ann", "pa");
  m.Admit(2, "Bob", "pb");
  m.RunUntil(Ms(10));
  m.Say(1, "bid");  // g1 at 1000
  m.RunUntil(Ms(150));
  ASSERT_TRUE(m.Got(2, "sold Ann 1000"));
  ASSERT_TRUE(m.Got(1, "offer g2 1000"));
  m.RunUntil(Ms(160));
  m.Say(1, "bid");  // g2 at 1000, then gone within the same tick
  m.HangUp(1);
  m.RunUntil(Ms(10'000));

  const std::vector<std::string>& bob = m.connections.sent[2];
  const auto g2 = std::find(bob.begin(), bob.end(), "good g2 k s 1000 900");
  ASSERT_GE(bob.end() - g2, 3);
  EXPECT_EQ(g2[1], "offer g2 1000");
  EXPECT_EQ(g2[2], "buyers Bob");
  EXPECT_EQ(std::find(g2, bob.end(), "sold Ann 1000"), bob.end()) << "Ann cannot win g2";

  const market::Results& results = m.session.results();
  ASSERT_TRUE(results.completed);
  const market::AuctionResult& auction = results.auctions[0];
  EXPECT_EQ(auction.goods[0].buyer, "Ann");
  EXPECT_EQ(auction.goods[1].outcome, market::Outcome::kUnsold);
  ASSERT_EQ(results.participants[0].login, "Ann");
  EXPECT_TRUE(results.participants[0].left);
  EXPECT_EQ(results.participants[0].bids, 2);
  EXPECT_EQ(results.participants[0].dropped, "");
  EXPECT_EQ(auction.buyers[0].name, "Ann");
  EXPECT_EQ(auction.buyers[0].purchases, 1);
  EXPECT_EQ(auction.buyers[0].spend, 1000);
  EXPECT_TRUE(auction.buyers[0].left);
}

// What a watcher (the live monitor) hears: every line the buyers were sent to all of them, in
// their order, the logins of the admitted buyers who bid, and the end once; never a password, not
// even a wrong one, nor a bid from a connection not logged in.
TEST(MarketSession, AWatcherHearsTheBroadcastsAndTheBiddersButNoPassword) {
  struct Recorder : MarketWatcher {
    void Broadcast(const std::string& line) override { heard.push_back(line); }
    void Bid(const std::string& login) override { heard.push_back("bid by " + login); }
    void Finished() override { heard.push_back("finished"); }
    std::vector<std::string> heard;
  } recorder;
  Market m("tick_ms = 100\nadmission_window_ms = 0\nmin_buyers = 2\n" + kRegistry + kWanted);
  m.session.Watch(&recorder);
  m.Admit(3, "Cy", "wrong-secret");  // denied
  m.Admit(1, "Ann", "pa");
  m.session.Connected(4);
  m.Say(4, "bid");  // not logged in: no bidder
  m.Admit(2, "Bob", "pb");
  m.RunUntil(Ms(150));
  m.Say(2, "bid");
  m.RunUntil(Ms(60'000));
  ASSERT_TRUE(m.session.finished());

  std::vector<std::string> broadcasts;
  for (const std::string& line : recorder.heard) {
    if (line.rfind("bid by ", 0) != 0 && line != "finished") broadcasts.push_back(line);
  }
  const std::vector<std::string>& ann = m.connections.sent[1];
  ASSERT_FALSE(ann.empty());
  EXPECT_EQ(ann.front(), "accept");  // hers alone; everything after went to every buyer
  EXPECT_EQ(broadcasts, std::vector<std::string>(ann.begin() + 1, ann.end()));
  EXPECT_EQ(std::count(recorder.heard.begin(), recorder.heard.end(), "bid by Bob"), 1);
  EXPECT_EQ(std::count_if(recorder.heard.begin(), recorder.heard.end(),
                          [](const std::string& l) { return l.rfind("bid by", 0) == 0; }),
            1);
  const auto sold = std::find(recorder.heard.begin(), recorder.heard.end(), "sold Bob 900");
  ASSERT_NE(sold, recorder.heard.end());
  EXPECT_LT(std::find(recorder.heard.begin(), recorder.heard.end(), "bid by Bob"), sold);
  EXPECT_EQ(recorder.heard.back(), "finished");
  EXPECT_EQ(std::count(recorder.heard.begin(), recorder.heard.end(), "finished"), 1);
  for (const std::string& line : recorder.heard) {
    for (const char* secret : {"pa", "pb", "wrong-secret"}) {
      EXPECT_EQ(line.find(std::string(" ") + secret), std::string::npos) << line;
    }
  }
}

}  // namespace
}  // namespace marketd
