// The built buyer agent against the real RemoteControl gateway: the agent finds the gateway on
// PATH, logs in and trades a whole market session. What the agent logged is checked against the
// results the market wrote.

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"

namespace {

using test_support::ChildResult;
using test_support::Conversation;
using test_support::Converse;
using test_support::ExitStatus;
using test_support::MakeTempDir;
using test_support::ReadFile;
using test_support::WriteFile;

constexpr int kAuctions = 21;
constexpr long long kInitialCredit = 50000;

struct Session {
  ChildResult agent;  // out: the agent's log; err: the gateway's summary
  std::string results;
  std::string transcript;
};

Session RunAgent(const std::string& scenario_path) {
  const std::string dir = MakeTempDir();
  std::vector<std::string> env = {
      // The gateway's folder first, as the agent looks "RemoteControl" up along PATH.
      std::string("PATH=") + BIN_DIR + ":/usr/bin:/bin",
      "MARKET_SCENARIO=" + scenario_path,
      "MARKET_RESULTS=" + dir + "/results.json",
      "MARKET_TRANSCRIPT=" + dir + "/transcript.txt",
  };
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  Conversation nothing;
  nothing.close_input_at_once = true;
  Session session;
  session.agent = Converse({BUYER_PATH}, env, nothing, 120);
  EXPECT_FALSE(session.agent.timed_out);
  session.results = ReadFile(dir + "/results.json");
  session.transcript = ReadFile(dir + "/transcript.txt");
  return session;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

struct Purchase {
  int auction = 0;
  std::string good;
  long long price = 0;
  bool operator==(const Purchase&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Purchase& p) {
  return out << "auction " << p.auction << " " << p.good << " at " << p.price;
}

// A state trace of the agent's log: where it was printed and the credit and benefit it showed for
// every auction.
struct Trace {
  int auction = 0;  // the auction and round in progress when it was printed
  int round = 0;
  std::vector<long long> credit;
  std::vector<long long> benefit;
};

struct LogReading {
  std::vector<Purchase> purchases;  // each "sold CLogin P", with the auction and good then current
  std::vector<Trace> traces;
};

LogReading ReadLog(const std::string& log) {
  LogReading reading;
  const std::vector<std::string> w = Words(log);
  int auction = 0;
  int round = 0;
  std::string good;
  for (size_t i = 0; i + 1 < w.size(); ++i) {
    if (w[i] == "open_auction") auction = std::stoi(w[i + 1]);
    if (w[i] == "good") good = w[i + 1];
    if (w[i] == "sold" && w[i + 1] == "CLogin" && i + 2 < w.size()) {
      reading.purchases.push_back({auction, good, std::stoll(w[i + 2])});
    }
    if (w[i] == "open_round") {
      round = std::stoi(w[i + 1]);
      Trace trace{auction, round, {}, {}};
      // Each auction's block: "--------------------" "Credit:" N "Benefit:" B.
      for (size_t j = i + 2; j + 4 < w.size() && trace.credit.size() < kAuctions; j += 5) {
        if (w[j] != "--------------------" || w[j + 1] != "Credit:" || w[j + 3] != "Benefit:") {
          break;
        }
        trace.credit.push_back(std::stoll(w[j + 2]));
        trace.benefit.push_back(std::stoll(w[j + 4]));
      }
      reading.traces.push_back(trace);
    }
  }
  return reading;
}

TEST(Session, AgentTradesAWholeMarketAndItsAccountsMatchTheMarkets) {
  const Session s = RunAgent(SESSION_SCENARIO);
  ASSERT_EQ(ExitStatus(s.agent), 0) << s.agent.err;
  ASSERT_FALSE(s.results.empty());
  const nlohmann::json results = nlohmann::json::parse(s.results);
  ASSERT_EQ(results["completed"], true) << s.results;
  EXPECT_NE(s.agent.err.find("market closed"), std::string::npos) << s.agent.err;
  EXPECT_EQ(s.agent.out.find("Access denied"), std::string::npos);

  // The market's record of the agent's purchases, in order, and per auction before each round.
  std::vector<Purchase> market_purchases;
  std::map<int, std::vector<std::pair<int, long long>>> bought;  // auction: (round, price)
  std::map<int, std::vector<std::pair<int, long long>>> gained;  // auction: (round, benefit)
  for (const auto& auction : results["auctions"]) {
    for (const auto& good : auction["goods"]) {
      if (good["outcome"] != "sold" || good["buyer"] != "CLogin") continue;
      const int number = auction["number"];
      const long long price = good["price"];
      const long long resale = good["resale"];
      market_purchases.push_back({number, good["id"], price});
      bought[number].push_back({good["round"], price});
      gained[number].push_back({good["round"], resale - price});
    }
  }
  // How much the agent buys depends on its bids landing within real ticks; whatever it bought,
  // its log and the market must agree (the gateway's ticks are tested on a manual clock in
  // gateway/run_session_test.cc).
  const LogReading log = ReadLog(s.agent.out);
  EXPECT_EQ(log.purchases, market_purchases);

  // Every trace shows, for each auction, 50000 less what the agent bought there before the round.
  ASSERT_EQ(log.traces.size(), 4u);
  for (const Trace& trace : log.traces) {
    SCOPED_TRACE("trace at auction " + std::to_string(trace.auction) + " round " +
                 std::to_string(trace.round));
    ASSERT_EQ(trace.credit.size(), static_cast<size_t>(kAuctions));
    for (int a = 1; a <= kAuctions; ++a) {
      long long credit = kInitialCredit;
      long long benefit = 0;
      for (size_t i = 0; i < bought[a].size(); ++i) {
        const int round = bought[a][i].first;
        if (a < trace.auction || (a == trace.auction && round < trace.round)) {
          credit -= bought[a][i].second;
          benefit += gained[a][i].second;
        }
      }
      EXPECT_EQ(trace.credit[static_cast<size_t>(a - 1)], credit) << "auction " << a;
      EXPECT_EQ(trace.benefit[static_cast<size_t>(a - 1)], benefit) << "auction " << a;
    }
  }

  // Every bid the agent logged reached the market.
  size_t logged_bids = 0;
  for (const std::string& word : Words(s.agent.out)) logged_bids += word == "bid";
  size_t received_bids = 0;
  for (size_t at = s.transcript.find(" < bid\n"); at != std::string::npos;
       at = s.transcript.find(" < bid\n", at + 1)) {
    ++received_bids;
  }
  EXPECT_EQ(logged_bids, received_bids);
}

TEST(Session, WrongPasswordIsDeniedAndTheAgentExitsPromptly) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/wrong.toml",
            "[[registry]]\nlogin = \"CLogin\"\npassword = \"NotTheAgents\"\n[[auctions]]\n");
  const Session s = RunAgent(dir + "/wrong.toml");
  EXPECT_EQ(ExitStatus(s.agent), 1);
  EXPECT_NE(s.agent.out.find("deny bad_password"), std::string::npos) << s.agent.out;
  EXPECT_NE(s.agent.out.find("Access denied: bad_password"), std::string::npos) << s.agent.out;
  EXPECT_NE(s.agent.err.find("RemoteControl: admission of CLogin refused: bad_password"),
            std::string::npos)
      << s.agent.err;
  EXPECT_EQ(s.agent.out.find("open_auction"), std::string::npos);
}

}  // namespace
