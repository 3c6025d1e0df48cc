// One market session over TCP on loopback: marketd, the real agent (buyer with RemoteControl in
// connect mode), three scripted network bidders and the scenario's rivals. Everyone must see the
// same market messages, and the agent's log, the bidders' counts and the results must agree.
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "buyer/link/protocol.h"
#include "tests/network/net_support.h"

namespace nettest {
namespace {

const std::set<std::string> kMarketTags(std::begin(Message_Tags), std::end(Message_Tags));

std::string Trim(const std::string& line) {
  const size_t end = line.find_last_not_of(' ');
  return end == std::string::npos ? "" : line.substr(0, end + 1);
}

std::string Tag(const std::string& line) { return line.substr(0, line.find(' ')); }

// The market's messages in a log, in order: the agent's log holds them among its own lines (with
// a trailing space), a bidder's log holds nothing else.
std::vector<std::string> MarketMessages(const std::string& log) {
  std::vector<std::string> messages;
  for (const std::string& line : Lines(log)) {
    const std::string text = Trim(line);
    if (kMarketTags.count(Tag(text)) > 0) messages.push_back(text);
  }
  return messages;
}

struct Bidder {
  std::string login;
  std::string password;
  int threshold;
};

TEST(Network, AgentBiddersAndRivalsShareOneSessionAndEveryAccountAgrees) {
  const std::string dir = MakeTempDir();
  Server server = StartServer(NETWORK_SCENARIO, dir);
  ASSERT_NE(server.port, 0);

  const std::vector<Bidder> bidders = {
      {"Pia", "pia-pw", 1900}, {"Quin", "quin-pw", 2000}, {"Ravi", "ravi-pw", 1700}};
  std::vector<Process> peers;
  for (const Bidder& b : bidders) {
    peers.push_back(Spawn(
        {PEER_PATH, "--connect", server.address(), "--login", b.login, "--password", b.password,
         "--bid-at-or-below", std::to_string(b.threshold), "--log-dir", dir, "--timeout", "120"},
        SanitizerEnv(), dir, "peer-" + b.login));
  }
  std::vector<std::string> env = SanitizerEnv();
  // The gateway's folder first, as the agent looks "RemoteControl" up along PATH.
  env.push_back(std::string("PATH=") + BIN_DIR + ":/usr/bin:/bin");
  env.push_back("MARKET_ADDRESS=" + server.address());
  Process agent = Spawn({BUYER_PATH}, env, dir, "agent");

  EXPECT_EQ(Wait(agent, 120), 0) << ReadFile(agent.err_path);
  for (size_t i = 0; i < peers.size(); ++i) {
    EXPECT_EQ(Wait(peers[i], 60), 0) << ReadFile(peers[i].out_path) << ReadFile(peers[i].err_path);
  }
  EXPECT_EQ(Wait(server.process, 60), 0) << ReadFile(server.process.err_path);

  const nlohmann::json results = nlohmann::json::parse(ReadFile(server.results_path));
  ASSERT_EQ(results["completed"], true);

  // Everyone saw the same market messages, from accept to closed_market.
  const std::vector<std::string> agent_saw = MarketMessages(ReadFile(agent.out_path));
  ASSERT_FALSE(agent_saw.empty());
  EXPECT_EQ(agent_saw.front(), "accept");
  EXPECT_EQ(agent_saw.back(), "closed_market");
  for (const Bidder& b : bidders) {
    EXPECT_EQ(MarketMessages(ReadFile(dir + "/" + b.login + ".log")), agent_saw) << b.login;
  }

  // Every good is decided exactly once, and the messages tell the same story as the results.
  std::vector<std::string> outcomes_seen;
  for (const std::string& line : agent_saw) {
    if (Tag(line) == "sold" || Tag(line) == "out_of_market") outcomes_seen.push_back(line);
  }
  std::vector<std::string> outcomes_recorded;
  std::set<std::string> goods;
  for (const auto& auction : results["auctions"]) {
    for (const auto& good : auction["goods"]) {
      EXPECT_TRUE(goods.insert(good["id"].get<std::string>()).second);
      ASSERT_NE(good["outcome"], "pending") << good;
      if (good["outcome"] == "sold") {
        outcomes_recorded.push_back("sold " + good["buyer"].get<std::string>() + " " +
                                    std::to_string(good["price"].get<long long>()));
      } else {
        outcomes_recorded.push_back("out_of_market " + good["id"].get<std::string>() + " " +
                                    std::to_string(good["reserve"].get<long long>()));
      }
    }
  }
  EXPECT_EQ(goods.size(), 5u);
  EXPECT_EQ(outcomes_seen, outcomes_recorded);
  // Who wins depends on which tick each bid lands in: the in-process tests decide that on a
  // manual clock (marketd/market_session_test.cc).

  // Every bid sent over the network reached the market and was recorded with its response time.
  std::map<std::string, long long> bids_recorded;
  for (const auto& p : results["participants"]) bids_recorded[p["login"]] = p["bids"];
  for (const Bidder& b : bidders) {
    const std::string report = ReadFile(dir + "/peer-" + b.login + ".out");
    const size_t at = report.find(" bids=");
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_EQ(std::stoll(report.substr(at + 6)), bids_recorded[b.login]) << report;
  }
  size_t agent_bids = 0;
  for (const std::string& line : Lines(ReadFile(agent.out_path))) agent_bids += Trim(line) == "bid";
  EXPECT_EQ(static_cast<long long>(agent_bids), bids_recorded["CLogin"]);
  long long total_bids = 0;
  for (const auto& [login, count] : bids_recorded) total_bids += count;
  EXPECT_GT(total_bids, 0);
  EXPECT_EQ(static_cast<long long>(results["bids"].size()), total_bids);
  EXPECT_EQ(results["ignored_total"], 0) << results["ignored"];
}

}  // namespace
}  // namespace nettest

namespace nettest {
namespace {

TEST(Network, GatewayThatCannotConnectSaysSoAndTheAgentFails) {
  const std::string dir = MakeTempDir();
  // Port 1 on loopback: nothing listens there.
  const uint16_t port = 1;
  ASSERT_FALSE(Client(port).connected());
  std::vector<std::string> env = SanitizerEnv();
  env.push_back(std::string("PATH=") + BIN_DIR + ":/usr/bin:/bin");
  env.push_back("MARKET_ADDRESS=127.0.0.1:" + std::to_string(port));
  Process agent = Spawn({BUYER_PATH}, env, dir, "agent");
  EXPECT_EQ(Wait(agent, 60), 1);
  const std::string err = ReadFile(agent.err_path);
  EXPECT_NE(err.find("RemoteControl: cannot connect to the market at 127.0.0.1:1: "),
            std::string::npos)
      << err;
  EXPECT_EQ(ReadFile(agent.out_path).find("accept"), std::string::npos);
}

}  // namespace
}  // namespace nettest
