// The hostile-client table: what one broken or hostile client must not do to the market or to the
// others (grow its memory, slow its clock, reorder its bytes, read a password, take the slots of
// registered buyers), each in process on a clock the test moves. What only the kernel can show
// (descriptors, signals, a busy port) is in tests/network/hostile_test.cc.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/response_stats.h"
#include "engine/results_json.h"
#include "engine/summary.h"
#include "tests/support/files.h"
#include "tests/support/market_fixture.h"
#include "tests/support/scenario_text.h"

namespace marketd {
namespace {

using market::ClientId;
using session::Nanos;
using test_support::AuctionToml;
using test_support::GoodToml;
using test_support::Market;
using test_support::Ms;
using test_support::ThreeBuyers;
using test_support::WantedGood;

const std::string kRegistry = ThreeBuyers();
// Priced above every buyer's credit: a bidder wins, cannot pay, is sanctioned and expelled.
const std::string kDear = AuctionToml({GoodToml("g1", 50100, 60000, 49500)});
const std::string kWanted = AuctionToml({WantedGood()});

TEST(HostileClient, AFloodOfBidsIsCountedButStoresOneBidPerTick) {
  Market m("tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kDear);
  m.Admit(1, "Ann", "pa");
  m.Admit(2, "Bob", "pb");
  m.RunUntil(Ms(0));
  int sent = 0;
  for (int tick = 0; tick < 8; ++tick) {
    for (int i = 0; i < 20'000; ++i, ++sent) m.Say(1, "bid");
    m.RunUntil(Ms(100 * (tick + 1)));
  }
  m.RunUntil(Ms(60'000));
  const market::Results& results = m.session.results();
  ASSERT_TRUE(results.completed);
  ASSERT_EQ(results.participants[0].login, "Ann");
  EXPECT_EQ(results.participants[0].bids, sent);
  // Two winning bids before the expulsion; after it Ann's bids are ignored, not stored.
  EXPECT_EQ(results.bids.size(), 2u);
  EXPECT_LT(market::ResultsJson(results).size(), 64u * 1024);
  EXPECT_TRUE(m.Got(2, "expulsion Ann"));
}

// A watcher (the live monitor) hears a bid only when the market records it: not a repeat within
// the tick, not a bid from a buyer expelled from the auction, not the bid of a buyer gone before
// the tick was decided; each before the outcome of its tick.
TEST(HostileClient, AFloodOfBidsReachesTheWatcherAsNoMoreThanTheRecordedBids) {
  struct Recorder : MarketWatcher {
    void Broadcast(const std::string& line) override {
      if (line.rfind("sanction ", 0) == 0) heard.push_back(line.substr(0, line.rfind(' ')));
    }
    void Bid(const std::string& login) override { heard.push_back("bid " + login); }
    void Finished() override {}
    std::vector<std::string> heard;
  } recorder;
  Market m("tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kDear);
  m.session.Watch(&recorder);
  m.Admit(1, "Ann", "pa");
  m.Admit(2, "Bob", "pb");
  m.Admit(3, "Cy", "pc");
  m.RunUntil(Ms(0));
  for (int tick = 0; tick < 3; ++tick) {
    for (int i = 0; i < 5'000; ++i) m.Say(1, "bid");  // the third tick: expelled
    if (tick == 0) {
      m.Say(3, "bid");
      m.HangUp(3);  // in the same tick: the bid is taken back
    }
    if (tick == 2) m.Say(2, "bid");
    m.RunUntil(Ms(100 * (tick + 1)));
  }
  m.RunUntil(Ms(60'000));
  const market::Results& results = m.session.results();
  ASSERT_TRUE(results.completed);
  ASSERT_TRUE(m.Got(2, "expulsion Ann"));
  std::vector<std::string> recorded;
  for (const market::BidRecord& bid : results.bids) recorded.push_back("bid " + bid.buyer);
  EXPECT_EQ(recorded, (std::vector<std::string>{"bid Ann", "bid Ann", "bid Bob"}));
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"bid Ann", "sanction Ann", "bid Ann",
                                                      "sanction Ann", "bid Bob", "sanction Bob"}));
}

TEST(HostileClient, ABidThatDiesWithItsConnectionIsNeitherCountedNorTimed) {
  Market m("tick_ms = 100\nadmission_window_ms = 0\n" + kRegistry + kWanted);
  m.Admit(1, "Ann", "pa");
  m.Admit(2, "Bob", "pb");
  m.RunUntil(Ms(10));
  m.Say(1, "bid");
  m.Say(2, "bid");
  m.HangUp(2);  // in the same tick
  m.RunUntil(Ms(60'000));
  EXPECT_TRUE(m.Got(1, "sold Ann 1000"));
  const market::Results& results = m.session.results();
  ASSERT_EQ(results.bids.size(), 1u);
  EXPECT_EQ(results.bids[0].buyer, "Ann");
  EXPECT_EQ(market::ResponseTimes(results.bids, "Bob").count, 0);
  ASSERT_EQ(results.participants[1].login, "Bob");
  EXPECT_EQ(results.participants[1].bids, 1);  // the line was still received
}

TEST(HostileClient, AGoodOnOfferWhenTheSessionIsCutShortHasAnOutcomeOfItsOwn) {
  Market m("tick_ms = 100\nadmission_window_ms = 0\nsanctions_before_expulsion = 5\n" + kRegistry +
           kDear);
  m.Admit(1, "Ann", "pa");
  m.RunUntil(Ms(10));
  m.Say(1, "bid");
  m.RunUntil(Ms(150));  // Ann won and could not pay: a voided sale, offered again
  ASSERT_TRUE(m.Got(1, "sanction Ann 5510"));
  m.session.Interrupt();
  const market::Results& results = m.session.results();
  const market::GoodResult& g1 = results.auctions[0].goods[0];
  EXPECT_EQ(g1.outcome, market::Outcome::kInterrupted);
  EXPECT_EQ(g1.sanctions, 1);
  EXPECT_NE(market::ResultsJson(results).find("\"outcome\": \"interrupted\""), std::string::npos);
  const std::string summary = market::SummaryText(results);
  EXPECT_NE(summary.find("on offer when the session ended (1 voided sale)"), std::string::npos)
      << summary;
  EXPECT_EQ(summary.find("not offered"), std::string::npos) << summary;
}

TEST(HostileClient, AnySeedPrintsAsTheUnsignedNumberItIs) {
  for (const uint64_t seed : {uint64_t{0}, uint64_t{1} << 63, ~uint64_t{0}}) {
    market::Results results;
    results.seed = seed;
    EXPECT_NE(market::SummaryText(results).find("seed " + std::to_string(seed) + ":"),
              std::string::npos)
        << market::SummaryText(results);
  }
}

// Admissions on fresh connections from `peer`; the answer to each (the first line it got).
std::vector<std::string> TryLogins(Market& m, ClientId& next, const std::string& peer,
                                   const std::vector<std::string>& admissions) {
  std::vector<std::string> answers;
  for (const std::string& admission : admissions) {
    const ClientId id = next++;
    m.session.Connected(id, peer);
    m.Say(id, admission);
    const std::vector<std::string>& sent = m.connections.sent[id];
    answers.push_back(sent.empty() ? "" : sent.front());
  }
  return answers;
}

TEST(HostileClient, PasswordsAreNeverWrittenAndGuessesAreRecordedAndThrottled) {
  const std::string dir = test_support::MakeTempDir();
  Market m("tick_ms = 100\nadmission_window_ms = 600000\n" + kRegistry + kWanted);
  ASSERT_TRUE(m.transcript.Open(dir + "/t.txt"));
  ClientId next = 1;
  const std::vector<std::string> guesses(5, "admission Ann guess-Zq7");
  const std::vector<std::string> five_wrong(5, "deny bad_password");
  EXPECT_EQ(TryLogins(m, next, "10.0.0.1", guesses), five_wrong);
  // The login cools down for that peer: even its password is refused, without being looked at.
  EXPECT_EQ(TryLogins(m, next, "10.0.0.1", {"admission Ann pa"}),
            std::vector<std::string>{"deny too_many_failures"});
  m.RunUntil(Ms(29'000));
  EXPECT_EQ(TryLogins(m, next, "10.0.0.1", {"admission Ann pa"}),
            std::vector<std::string>{"deny too_many_failures"});
  m.RunUntil(Ms(31'000));
  EXPECT_EQ(TryLogins(m, next, "10.0.0.1", {"admission Ann pa"}),
            std::vector<std::string>{"accept"});
  // Guesses from one peer do not lock the buyer out from another.
  EXPECT_EQ(TryLogins(m, next, "10.0.0.5", std::vector<std::string>(6, "admission Cy nope")),
            (std::vector<std::string>{"deny bad_password", "deny bad_password", "deny bad_password",
                                      "deny bad_password", "deny bad_password",
                                      "deny too_many_failures"}));
  EXPECT_EQ(TryLogins(m, next, "10.0.0.6", {"admission Cy pc"}),
            std::vector<std::string>{"accept"});
  // A peer that guesses logins cools down for every login; other peers do not.
  std::vector<std::string> unknown;
  for (int i = 0; i < 20; ++i) unknown.push_back("admission Eve" + std::to_string(i) + " x");
  EXPECT_EQ(TryLogins(m, next, "10.0.0.9", unknown),
            std::vector<std::string>(20, "deny unknown_buyer"));
  EXPECT_EQ(TryLogins(m, next, "10.0.0.9", {"admission Bob pb"}),
            std::vector<std::string>{"deny too_many_failures"});
  EXPECT_EQ(TryLogins(m, next, "10.0.0.3", {"admission Bob pb"}),
            std::vector<std::string>{"accept"});
  // A repeated admission of an admitted buyer is ignored, and hidden too.
  m.Say(next - 1, "admission Bob pb-again");
  m.transcript.Close();

  const market::Results& results = m.session.results();
  EXPECT_EQ(results.failed_logins_total, 5 + 2 + 6 + 20 + 1);
  ASSERT_FALSE(results.failed_logins.empty());
  EXPECT_EQ(results.failed_logins[0].login, "Ann");
  EXPECT_EQ(results.failed_logins[0].peer, "10.0.0.1");
  EXPECT_EQ(results.failed_logins[0].reason, "bad_password");
  EXPECT_EQ(results.failed_logins[5].reason, "too_many_failures");
  EXPECT_EQ(results.failed_logins[6].at_us, 29'000'000);
  const std::string transcript = test_support::ReadFile(dir + "/t.txt");
  const std::string json = market::ResultsJson(results);
  const std::string summary = market::SummaryText(results);
  for (const char* secret : {"guess-Zq7", "pa\n", "pb\n", "pb-again"}) {
    SCOPED_TRACE(secret);
    EXPECT_EQ(transcript.find(secret), std::string::npos);
    EXPECT_EQ(json.find(secret), std::string::npos);
    EXPECT_EQ(summary.find(secret), std::string::npos);
  }
  EXPECT_NE(transcript.find("< #1 admission Ann ********"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("#1 connected from 10.0.0.1"), std::string::npos);
  // Overlong lines show their first bytes: an admission's password is masked there as well.
  Market o("tick_ms = 100\nadmission_window_ms = 600000\n" + kRegistry + kWanted);
  ASSERT_TRUE(o.transcript.Open(dir + "/o.txt"));
  o.session.Connected(1);
  o.Say(1, "admission Ann guess-Zq7" + std::string(5000, 'x'), true);
  o.transcript.Close();
  EXPECT_EQ(test_support::ReadFile(dir + "/o.txt").find("guess-Zq7"), std::string::npos);
}

TEST(HostileClient, AConnectionNotLoggedInIsDroppedForEveryLineButAnAdmission) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
  } cases[] = {
      {"bids", {"bid", "bid", "bid"}},
      {"garbage", {"hello", "bid", "buy"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Market m("tick_ms = 100\nadmission_window_ms = 600000\n" + kRegistry + kWanted);
    m.session.Connected(1);
    for (const std::string& line : c.lines) m.Say(1, line);
    EXPECT_EQ(m.connections.closed.count(1), 1u);
    ASSERT_EQ(m.session.results().dropped.size(), 1u);
    EXPECT_EQ(m.session.results().dropped[0].reason, "too many faults (3 lines refused)");
  }
}

// A registered buyer that logs in and hangs up again and again while the market waits for more
// buyers: its login's records are taken up again each time, so the market's memory stays flat,
// and the session starts with it once, in the place of its latest admission.
TEST(HostileClient, ABuyerComingAndGoingInTheLobbyCostsNoMemory) {
  Market m("tick_ms = 100\nadmission_window_ms = 0\nmin_buyers = 3\n" + kRegistry + kWanted);
  m.RunUntil(Ms(1));  // the window has passed: the market waits for a third buyer
  m.Admit(1, "Bob", "pb");
  ClientId id = 2;
  for (; id < 5'002; ++id) {
    m.Admit(id, "Ann", "pa");
    ASSERT_TRUE(m.Got(id, "accept")) << id;
    m.HangUp(id);
  }
  EXPECT_EQ(m.session.engine().clients_kept(), 1u);
  EXPECT_EQ(m.session.engine().participants_kept(), 2u);
  m.Admit(id, "Ann", "pa");
  m.Admit(id + 1, "Cy", "pc");
  m.RunUntil(Ms(100));
  EXPECT_TRUE(m.Got(id + 1, "buyers Bob Ann Cy"));
  const market::Results& results = m.session.results();
  ASSERT_EQ(results.participants.size(), 3u);
  EXPECT_EQ(results.participants[1].login, "Ann");
  EXPECT_FALSE(results.participants[1].left);
}

TEST(HostileClient, IdleConnectionsNeitherStayNorLockRegisteredBuyersOut) {
  ServerOptions options;
  options.max_connections = 10;  // a market for 3: at most 7 connections not logged in
  options.admission_timeout = std::chrono::milliseconds(2000);
  Market m("tick_ms = 100\nadmission_window_ms = 600000\n" + kRegistry + kWanted, options);
  for (ClientId id = 1; id <= 50; ++id) {
    m.session.Connected(id);
    m.session.AfterEvent();
    EXPECT_LE(static_cast<int>(id) - static_cast<int>(m.connections.closed.size()), 7);
  }
  EXPECT_EQ(m.connections.closed.count(43), 1u);
  EXPECT_EQ(m.connections.closed.count(44), 0u);
  m.Admit(51, "Ann", "pa");
  EXPECT_TRUE(m.Got(51, "accept"));
  m.RunUntil(Ms(1999));
  EXPECT_EQ(m.connections.closed.count(50), 0u);
  m.RunUntil(Ms(2000));
  for (ClientId id = 1; id <= 50; ++id) EXPECT_EQ(m.connections.closed.count(id), 1u) << id;
  EXPECT_EQ(m.connections.closed.count(51), 0u) << "a buyer logged in stays";
  const market::Results& results = m.session.results();
  EXPECT_EQ(results.dropped_total, 50);
  EXPECT_EQ(results.dropped.back().reason, "not logged in within 2000 ms");
  EXPECT_EQ(results.dropped.front().reason, "crowded out before logging in");
}

}  // namespace
}  // namespace marketd
