// The built RemoteControl program on real pipes, with the test in the agent's place.

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/scenario_text.h"

namespace gateway {
namespace {

using test_support::ChildResult;
using test_support::Conversation;
using test_support::Converse;
using test_support::ExitStatus;
using test_support::Lines;
using test_support::ReadFile;
using test_support::UnwantedGood;
using test_support::UnwantedGoodSession;
using test_support::WantedGood;
using test_support::WriteFile;

constexpr double kTimeout = 60;
const std::string kAdmission = "admission CLogin TGatekeep\n";

std::string Scenario(int tick_ms, const std::string& goods, const std::string& extra = "") {
  return "tick_ms = " + std::to_string(tick_ms) +
         "\n[[registry]]\nlogin = \"CLogin\"\npassword = \"TGatekeep\"\n"
         "[[registry]]\nlogin = \"Other\"\npassword = \"pw\"\n" +
         extra + "[[auctions]]\ngoods = [" + goods + "]\n";
}

// Nobody wants g1 (resale below every price): two offers, then it leaves the market. The outcome
// does not depend on timing.
const std::string kUnwanted = UnwantedGood();
const std::string kUnwantedSession = UnwantedGoodSession();

struct Gateway {
  std::string dir = test_support::MakeTempDir();
  std::vector<std::string> env;
  std::vector<std::string> argv = {GATEWAY_PATH, "CLogin"};

  explicit Gateway(const std::string& scenario) {
    WriteFile(dir + "/scenario.toml", scenario);
    env = {"MARKET_SCENARIO=" + dir + "/scenario.toml", "MARKET_RESULTS=" + dir + "/results.json",
           "MARKET_TRANSCRIPT=" + dir + "/transcript.txt"};
  }
  ChildResult Run(const Conversation& conversation) const {
    ChildResult result = Converse(argv, env, conversation, kTimeout);
    EXPECT_FALSE(result.timed_out);
    return result;
  }
  std::string Results() const { return ReadFile(dir + "/results.json"); }
  std::string Transcript() const { return ReadFile(dir + "/transcript.txt"); }
};

TEST(Gateway, BadSettingsGiveOneLineNoMessagesAndStatus2) {
  const std::string dir = test_support::MakeTempDir();
  WriteFile(dir + "/bad.toml", "[[registry]]\nlogin = \"CLogin\"\npasword = \"x\"\n");
  const struct {
    std::vector<std::string> argv;
    std::vector<std::string> env;
    std::string err;
  } cases[] = {
      {{GATEWAY_PATH, "CLogin"},
       {"MARKET_SCENARIO=" + dir + "/bad.toml"},
       "RemoteControl: bad scenario " + dir +
           "/bad.toml:1: missing key 'password' in [[registry]]\n"},
      {{GATEWAY_PATH, "CLogin"},
       {"MARKET_SCENARIO=" + dir + "/missing.toml"},
       "RemoteControl: bad scenario " + dir +
           "/missing.toml:0: cannot open the file: No such file or directory\n"},
      {{GATEWAY_PATH, "CLogin"},
       {"MARKET_SEED=seven"},
       "RemoteControl: MARKET_SEED must be a whole number from 0 to 18446744073709551615, not "
       "'seven'\n"},
      {{GATEWAY_PATH, "CLogin"},
       {"MARKET_RESULTS=" + dir + "/no/such/folder/r.json"},
       "RemoteControl: cannot write the results file " + dir +
           "/no/such/folder/r.json: No such file or directory\n"},
      {{GATEWAY_PATH},
       {},
       "RemoteControl: expects exactly one argument, the buyer's login (settings come from "
       "MARKET_SCENARIO, MARKET_SEED, MARKET_RESULTS, MARKET_TRANSCRIPT, MARKET_CLOCK and "
       "MARKET_ADDRESS)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    Conversation conversation;
    conversation.input = kAdmission;
    ChildResult r = Converse(c.argv, c.env, conversation, kTimeout);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(ExitStatus(r), 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(Gateway, DeniedAdmissionClosesTheOutputAndFails) {
  const struct {
    std::string login;  // the gateway's argument
    std::string input;
    std::string reason;
  } cases[] = {
      {"CLogin", "admission CLogin wrong\n", "bad_password"},
      {"Mallory", "admission Mallory TGatekeep\n", "unknown_buyer"},
      {"CLogin", "admission Other pw\n", "login_mismatch"},  // registered, not this gateway's
      {"CLogin", "admission CLogin\n", "malformed_admission"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    Gateway gateway(Scenario(5, kUnwanted));
    gateway.argv[1] = c.login;
    Conversation conversation;
    conversation.input = c.input;  // the input stays open: the gateway must not wait for its end
    ChildResult r = gateway.Run(conversation);
    EXPECT_EQ(r.out, "deny " + c.reason + "\n");
    EXPECT_EQ(ExitStatus(r), 1);
    EXPECT_EQ(r.err, "RemoteControl: admission of " + c.login + " refused: " + c.reason + "\n");
    EXPECT_NE(gateway.Results().find("\"ended_early\": \"admission refused (" + c.reason + ")\""),
              std::string::npos)
        << gateway.Results();
  }
}

TEST(Gateway, WholeSessionWithCommandsBeforeAdmissionIgnoredAndRecorded) {
  Gateway gateway(Scenario(2, kUnwanted));
  Conversation conversation;
  conversation.input = "bid\nhello market\n" + std::string(10000, 'x') + "\n" + kAdmission;
  ChildResult r = gateway.Run(conversation);
  EXPECT_EQ(r.out, kUnwantedSession);
  EXPECT_EQ(ExitStatus(r), 0);
  EXPECT_NE(r.err.find("Market session, seed 1: 1 auction, market closed\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("      1  g1    k     s           300     200      200  unsold\n"),
            std::string::npos)
      << r.err;

  const std::string results = gateway.Results();
  EXPECT_NE(results.find("\"completed\": true"), std::string::npos);
  EXPECT_NE(results.find("\"ignored_total\": 3"), std::string::npos);
  for (const char* reason :
       {"bid before admission", "unknown command", "line longer than 4096 bytes"}) {
    EXPECT_NE(results.find(reason), std::string::npos) << reason;
  }

  // Every line both ways, in order, each stamped with its time.
  const std::vector<std::string> entries = Lines(gateway.Transcript());
  const std::regex entry(R"(\d+\.\d{6} [<>!] .*)");
  std::vector<std::string> traffic;
  for (const std::string& e : entries) {
    EXPECT_TRUE(std::regex_match(e, entry)) << e;
    const std::string body = e.substr(e.find(' ') + 1);
    if (body[0] != '!') traffic.push_back(body);
  }
  std::vector<std::string> expected = {"< bid", "< hello market",
                                       "< " + std::string(80, 'x') + "... (overlong line dropped)",
                                       "< admission CLogin ********"};
  for (const std::string& line : Lines(kUnwantedSession)) expected.push_back("> " + line);
  EXPECT_EQ(traffic, expected);
  EXPECT_NE(gateway.Transcript().find(" ! end of input"), std::string::npos);
}

TEST(Gateway, BidsOverThePipeBuyAtThePriceInForce) {
  // A tick of a second: the test's answer is read long before the price changes.
  Gateway gateway(Scenario(1000, WantedGood()));
  Conversation conversation;
  conversation.input = kAdmission;
  conversation.respond = [](const std::string& line) {
    return line == "offer g1 900" ? "bid\n" : "";
  };
  ChildResult r = gateway.Run(conversation);
  EXPECT_EQ(ExitStatus(r), 0);
  const std::string expected_tail = "offer g1 1000\noffer g1 900\nsold CLogin 900\nend_round 1\n";
  EXPECT_NE(r.out.find(expected_tail), std::string::npos) << r.out;
  EXPECT_NE(gateway.Results().find("\"buyer\": \"CLogin\", \"price\": 900"), std::string::npos);
}

TEST(Gateway, AgentGoneMidSessionEndsItCleanly) {
  // Ticks of ten seconds: a gateway that waited for the market would hit the test's deadline.
  const std::string slow = Scenario(10000, kUnwanted);
  const std::string opening =
      "accept\nopen_auction 1\nbuyers CLogin\ngoods g1 k s 300 200\nopen_round 1\n"
      "good g1 k s 300 200\noffer g1 300\n";
  {
    SCOPED_TRACE("input ends");
    Gateway gateway(slow);
    Conversation conversation;
    conversation.input = kAdmission;
    conversation.close_input_at_once = true;
    ChildResult r = gateway.Run(conversation);
    EXPECT_EQ(r.out, opening);
    EXPECT_EQ(ExitStatus(r), 1);
    EXPECT_NE(r.err.find("ended early in auction 1 of 1: the agent's input ended"),
              std::string::npos)
        << r.err;
    EXPECT_NE(gateway.Results().find("\"outcome\": \"interrupted\""), std::string::npos);
  }
  {
    SCOPED_TRACE("output broken");
    Gateway gateway(Scenario(50, kUnwanted));
    Conversation conversation;
    conversation.input = kAdmission;  // the input stays open
    conversation.stop_reading_after = 1;
    ChildResult r = gateway.Run(conversation);
    EXPECT_EQ(ExitStatus(r), 1);
    EXPECT_NE(r.err.find("the agent stopped reading (broken pipe)"), std::string::npos) << r.err;
  }
  {
    SCOPED_TRACE("exit command");
    Gateway gateway(slow);
    Conversation conversation;
    conversation.input = kAdmission;
    conversation.respond = [](const std::string& line) {
      return line == "offer g1 300" ? "exit\n" : "";
    };
    ChildResult r = gateway.Run(conversation);
    EXPECT_EQ(r.out, opening);
    EXPECT_EQ(ExitStatus(r), 0);
    EXPECT_NE(r.err.find("ended early in auction 1 of 1: the agent left with exit"),
              std::string::npos)
        << r.err;
  }
  {
    SCOPED_TRACE("input ends before admission");
    Gateway gateway(slow);
    Conversation conversation;
    conversation.close_input_at_once = true;
    ChildResult r = gateway.Run(conversation);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ExitStatus(r), 1);
    EXPECT_EQ(r.err, "RemoteControl: the agent's input ended before it logged in\n");
  }
}

TEST(Gateway, SessionIsReproducibleForASeed) {
  // Rivals alone decide: with a participant that never bids, the session depends on the seed only.
  const std::string rivals =
      "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\nvaluation = [50, 120]\n"
      "[[rivals]]\nname = \"Otto\"\nstrategy = \"cautious\"\nvaluation = [60, 130]\n";
  std::string text =
      "tick_ms = 1\nprice_step = 50\n[[registry]]\nlogin = \"CLogin\"\n"
      "password = \"TGatekeep\"\n" +
      rivals + "[[auctions]]\nrounds = 2\ngenerated_goods = 12\n";
  Gateway gateway(text);
  Conversation conversation;
  conversation.input = kAdmission;
  auto run = [&](const std::string& seed) {
    Gateway g = gateway;
    g.env.push_back("MARKET_SEED=" + seed);
    ChildResult r = g.Run(conversation);
    EXPECT_EQ(ExitStatus(r), 0);
    EXPECT_NE(r.err.find("Market session, seed " + seed + ":"), std::string::npos);
    return r.out;
  };
  const std::string first = run("11");
  EXPECT_NE(first.find("closed_market\n"), std::string::npos);
  EXPECT_EQ(run("11"), first);
  EXPECT_NE(run("12"), first);
}

}  // namespace
}  // namespace gateway
