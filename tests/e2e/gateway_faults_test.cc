// A misbehaving agent, from the gateway's side: the built RemoteControl on pipes with the test in
// the agent's place. Whatever the agent sends, the gateway keeps to its rules, records what it
// ignored, and ends cleanly.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/scenario_text.h"

namespace {

using test_support::AuctionToml;
using test_support::ChildResult;
using test_support::Conversation;
using test_support::Converse;
using test_support::Count;
using test_support::ExitStatus;
using test_support::WantedGood;

const std::string kAdmission = "admission CLogin TGatekeep\n";

struct Market {
  std::string dir = test_support::MakeTempDir();

  // One good that the agent may buy at 1000; a tick of tick_ms.
  explicit Market(int tick_ms) {
    test_support::WriteFile(dir + "/scenario.toml",
                            "tick_ms = " + std::to_string(tick_ms) +
                                "\n[[registry]]\nlogin = \"CLogin\"\npassword = \"TGatekeep\"\n" +
                                AuctionToml({WantedGood()}));
  }
  ChildResult Run(const Conversation& conversation) const {
    ChildResult r = Converse(
        {GATEWAY_PATH, "CLogin"},
        {"MARKET_SCENARIO=" + dir + "/scenario.toml", "MARKET_RESULTS=" + dir + "/results.json"},
        conversation, 120);
    EXPECT_FALSE(r.timed_out);
    return r;
  }
  std::string Results() const { return test_support::ReadFile(dir + "/results.json"); }
};

TEST(GatewayAgentFaults, GarbageAndAMegabyteLineAreRefusedAndRecorded) {
  std::mt19937 random(7);
  // One line of random bytes (NUL included, no newline), then a line of a megabyte.
  std::string garbage(2000, '\0');
  for (char& c : garbage) {
    do c = static_cast<char>(random() & 0xff);
    while (c == '\n');
  }
  Market market(20);
  Conversation conversation;
  conversation.input = garbage + "\n" + std::string(1024 * 1024, 'x') + "\n" + kAdmission;
  ChildResult r = market.Run(conversation);
  EXPECT_EQ(ExitStatus(r), 0);
  EXPECT_EQ(r.out.rfind("accept\nopen_auction 1\n", 0), 0u) << r.out.substr(0, 200);
  EXPECT_NE(r.out.find("closed_market\n"), std::string::npos);
  EXPECT_NE(market.Results().find("\"ignored_total\": 2"), std::string::npos);
  EXPECT_NE(market.Results().find("unknown command"), std::string::npos);
  EXPECT_NE(market.Results().find("line longer than 4096 bytes"), std::string::npos);
  EXPECT_NE(market.Results().find("\"completed\": true"), std::string::npos);
}

TEST(GatewayAgentFaults, TenThousandBidsInOneTickBuyOnce) {
  // A tick of two seconds: every bid lands while the first price is in force.
  Market market(2000);
  Conversation conversation;
  conversation.input = kAdmission;
  std::string flood;
  for (int i = 0; i < 10000; ++i) flood += "bid\n";
  conversation.respond = [&](const std::string& line) {
    return line == "offer g1 1000" ? flood : std::string();
  };
  ChildResult r = market.Run(conversation);
  EXPECT_EQ(ExitStatus(r), 0);
  EXPECT_NE(r.out.find("offer g1 1000\nsold CLogin 1000\n"), std::string::npos) << r.out;
  EXPECT_EQ(Count(r.out, "sold "), 1u);
  EXPECT_EQ(Count(r.out, "collision "), 0u);
  EXPECT_NE(r.out.find("closed_market\n"), std::string::npos);
}

}  // namespace
