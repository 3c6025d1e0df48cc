// The hostile-client table, the rows only a real kernel can show: the relay's exit status after a
// denial, descriptors running out, a busy port, signals. The rest of the table runs in process on
// a clock the test moves (marketd/hostile_test.cc).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/network/net_support.h"
#include "tests/support/scenario_text.h"

namespace nettest {
namespace {

using test_support::AuctionToml;
using test_support::GoodToml;

// CPU time (user and system) a process has used so far, from /proc.
double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return 0;
  unsigned long utime = 0;
  unsigned long stime = 0;
  // Fields after the name: state (3) ... utime (14), stime (15).
  std::sscanf(stat.c_str() + end + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
              &stime);
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

const std::string kScenario =
    "tick_ms = 100\nadmission_window_ms = 60000\n[[registry]]\nlogin = \"Ann\"\npassword = "
    "\"Ann-pw\"\n[[registry]]\nlogin = \"Bob\"\npassword = \"Bob-pw\"\n" +
    AuctionToml({GoodToml("g1", 1000, 900, 700)});

// The relay follows the market's verdict: a denied admission fails even when the agent then
// leaves with "exit", as the embedded gateway does.
TEST(HostileNetwork, TheRelayFailsAfterADenial) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", kScenario);
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);
  const struct {
    const char* name;
    std::string input;
    int status;
  } cases[] = {
      {"denied, then exit", "admission Ann wrong\nexit\n", 1},
      {"denied, input ends", "admission Ann wrong\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir + "/in.txt", c.input);
    std::vector<std::string> env = SanitizerEnv();
    env.push_back("MARKET_ADDRESS=" + server.address());
    Process relay =
        Spawn({"/bin/sh", "-c", std::string(BIN_DIR) + "/RemoteControl Ann < " + dir + "/in.txt"},
              env, dir, "relay");
    EXPECT_EQ(Wait(relay, 30), c.status);
    EXPECT_NE(ReadFile(relay.out_path).find("deny bad_password"), std::string::npos);
  }
  kill(server.process.pid, SIGTERM);
  Wait(server.process, 30);
}

nlohmann::json ResultsOf(const Server& server) {
  return nlohmann::json::parse(ReadFile(server.results_path));
}

nlohmann::json Participant(const nlohmann::json& results, const std::string& login) {
  for (const auto& p : results["participants"]) {
    if (p["login"] == login) return p;
  }
  ADD_FAILURE() << "no participant " << login;
  return {};
}

// A scenario whose one good, priced above every buyer's credit, runs down from 50100 to
// `reserve` in steps of 100: its bidders win, cannot pay and are expelled; the clock runs on.
std::string DearGood(int tick_ms, int reserve, int max_buyers) {
  return "tick_ms = " + std::to_string(tick_ms) +
         "\nadmission_window_ms = 60000\nmax_buyers = " + std::to_string(max_buyers) +
         "\n[[registry]]\nlogin = \"Ann\"\npassword = \"Ann-pw\"\n"
         "[[registry]]\nlogin = \"Bob\"\npassword = \"Bob-pw\"\n" +
         AuctionToml({GoodToml("g1", 50100, 60000, reserve)});
}

// Well-formed lines cut at any byte by the writes that carry them are taken in whole and in
// order, whatever the tick: no line is refused.
TEST(HostileNetwork, LinesSplitAcrossWritesAreHandledInArrivalOrder) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", DearGood(1, 100, 1));
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);
  Client ann(server.port);
  ann.Send("admission Ann Ann-pw\n");
  ASSERT_EQ(ann.ReadLine(30), "accept");
  std::string bids;
  for (int i = 0; i < 250; ++i) bids += "bid\n";
  const std::string stream = bids + bids + bids + bids;  // cut into 1001-byte writes below
  for (int round = 0; round < 100; ++round) {
    bool sent = true;
    for (size_t at = 0; at < stream.size() && sent; at += 1001)
      sent = ann.Send(stream.substr(at, 1001));
    if (!sent) break;
  }
  bool closed = false;
  ann.ReadUntilClosed(60, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(Wait(server.process, 60), 0) << ReadFile(server.process.err_path);
  const nlohmann::json results = ResultsOf(server);
  const nlohmann::json a = Participant(results, "Ann");
  EXPECT_EQ(a["faults"], 0);
  EXPECT_EQ(a["dropped"], nullptr);
  for (const auto& ignored : results["ignored"]) EXPECT_NE(ignored["reason"], "unknown command");
}

// A buyer that never stops writing gets a bounded share each tick; the others are served, and
// the session closes on time.
TEST(HostileNetwork, AFlooderIsReadWithinItsBudgetPerTick) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", DearGood(20, 45100, 2));
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);
  Client bob(server.port);
  bob.Send("admission Bob Bob-pw\n");
  ASSERT_EQ(bob.ReadLine(30), "accept");
  Client ann(server.port);
  ann.Send("admission Ann Ann-pw\n");
  ASSERT_EQ(ann.ReadLine(30), "accept");
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    std::string chunk;
    for (int i = 0; i < 4096; ++i) chunk += "bid\n";
    while (!stop && ann.Send(chunk)) {
    }
  });
  bool closed = false;
  const std::vector<std::string> seen = bob.ReadUntilClosed(60, &closed);
  stop = true;
  ann.Close();  // ends the flood if its sending is blocked
  flood.join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(seen.back(), "closed_market");
  bob.Close();
  EXPECT_EQ(Wait(server.process, 60), 0) << ReadFile(server.process.err_path);
  int64_t ticks = 0;
  for (const std::string& line : seen) {
    ticks += line.rfind("offer ", 0) == 0 || line.rfind("collision ", 0) == 0;
  }
  const nlohmann::json results = ResultsOf(server);
  const int64_t taken = Participant(results, "Ann")["bids"];
  // 1024 lines a tick, and what one chunk read past the bound can add, for each tick and for the
  // time before the first one and after the last.
  EXPECT_LE(taken, (ticks + 2) * (1024 + 1024)) << ticks << " ticks";
  EXPECT_GE(ticks, 50);
  EXPECT_EQ(Participant(results, "Bob")["dropped"], nullptr);
}

// The port a server wrote to `path`; 0 when none appeared within 20 s.
uint16_t WaitForPort(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    const std::string text = ReadFile(path);
    if (!text.empty()) return static_cast<uint16_t>(std::stoi(text));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

// Out of descriptors, marketd says how many connections it can hold and does not spin on
// accept() while more wait.
TEST(HostileNetwork, RunningOutOfDescriptorsNeitherSpinsNorOverpromises) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", DearGood(100, 100, 2));
  const std::string port_file = dir + "/port";
  Process server = Spawn({"/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" \"$@\"", MARKETD_PATH,
                          "--scenario", dir + "/s.toml", "--listen", "127.0.0.1:0", "--port-file",
                          port_file, "--max-connections", "100000"},
                         SanitizerEnv(), dir, "marketd");
  const uint16_t port = WaitForPort(port_file);
  ASSERT_NE(port, 0) << ReadFile(server.err_path);
  std::vector<std::unique_ptr<Client>> crowd;
  for (int i = 0; i < 100; ++i) crowd.push_back(std::make_unique<Client>(port));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double before = CpuSeconds(server.pid);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double used = CpuSeconds(server.pid) - before;
  EXPECT_LT(used, 0.5) << "CPU seconds in 2 s with connections waiting";
  kill(server.pid, SIGTERM);
  EXPECT_EQ(Wait(server, 30), 1);
  EXPECT_NE(ReadFile(server.err_path)
                .find("marketd: --max-connections lowered from 100000 to 32 (open file limit 64)"),
            std::string::npos)
      << ReadFile(server.err_path);
}

// The monitor's connections and the buyers' share one descriptor budget: event streams and idle
// sockets together never keep a registered buyer out.
TEST(HostileNetwork, ViewersAndIdleSocketsCannotKeepARegisteredBuyerOut) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", DearGood(100, 100, 2));
  Process server =
      Spawn({"/bin/sh", "-c", "ulimit -n 200 && exec \"$0\" \"$@\"", MARKETD_PATH, "--scenario",
             dir + "/s.toml", "--listen", "127.0.0.1:0", "--port-file", dir + "/port", "--http",
             "0", "--http-port-file", dir + "/http-port", "--max-connections", "100000"},
            SanitizerEnv(), dir, "marketd");
  const uint16_t port = WaitForPort(dir + "/port");
  const uint16_t http = WaitForPort(dir + "/http-port");
  ASSERT_NE(port, 0) << ReadFile(server.err_path);
  ASSERT_NE(http, 0) << ReadFile(server.err_path);
  std::vector<std::unique_ptr<Client>> crowd;
  int streams = 0;
  for (int i = 0; i < 64; ++i) {
    crowd.push_back(std::make_unique<Client>(http));
    crowd.back()->Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    streams += crowd.back()->ReadLine(10).value_or("").rfind("HTTP/1.1 200 OK", 0) == 0;
  }
  for (int i = 0; i < 136; ++i) crowd.push_back(std::make_unique<Client>(port));
  Client ann(port);
  ann.Send("admission Ann Ann-pw\n");
  EXPECT_EQ(ann.ReadLine(5), "accept") << "idle sockets time out after 10 s";
  EXPECT_EQ(streams, 42) << "the monitor's share of a 200-descriptor limit";
  kill(server.pid, SIGTERM);
  EXPECT_EQ(Wait(server, 30), 1);
  EXPECT_NE(ReadFile(server.err_path)
                .find("marketd: --max-connections lowered from 100000 to 126 and the monitor's "
                      "from 128 to 42 (open file limit 200)"),
            std::string::npos)
      << ReadFile(server.err_path);
}

// market_peer's bad usage: exit 2 and one line, as every program of the market.
TEST(HostileNetwork, MarketPeerRefusesBadUsageWithOneLineAndStatus2) {
  const std::string dir = MakeTempDir();
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {"no arguments", {}, "--connect is required"},
      {"a missing option", {"--connect", "127.0.0.1:1", "--login", "a"}, "--password is required"},
      {"an unknown option",
       {"--connect", "127.0.0.1:1", "--login", "a", "--password", "p", "--bogus"},
       "--bogus"},
      {"a count out of range",
       {"--connect", "127.0.0.1:1", "--login", "a", "--password", "p", "--count", "0"},
       "--count"},
      {"a bad address",
       {"--connect", "nowhere", "--login", "a", "--password", "p"},
       "--connect must be HOST:PORT, not 'nowhere'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{PEER_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Process peer = Spawn(argv, SanitizerEnv(), dir, "peer");
    EXPECT_EQ(Wait(peer, 30), 2);
    const std::string err = ReadFile(peer.err_path);
    EXPECT_EQ(err.rfind("market_peer: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(ReadFile(peer.out_path), "");
  }
}

// A second server on a busy port fails before it touches any file; the first one's transcript
// and results come out whole. SIGHUP ends a session as SIGTERM does: summary and results.
TEST(HostileNetwork, ABusyPortSparesTheFilesAndSighupEndsWithResults) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", DearGood(100, 100, 2));
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);
  Client ann(server.port);
  ann.Send("admission Ann Ann-pw\n");
  ASSERT_EQ(ann.ReadLine(30), "accept");
  const std::string transcript = dir + "/transcript.txt";
  Process second = Spawn({MARKETD_PATH, "--scenario", dir + "/s.toml", "--listen", server.address(),
                          "--results", server.results_path, "--transcript", transcript},
                         SanitizerEnv(), dir, "second");
  EXPECT_EQ(Wait(second, 30), 2);
  EXPECT_NE(ReadFile(second.err_path).find("cannot listen on 127.0.0.1:"), std::string::npos);
  kill(server.process.pid, SIGHUP);
  EXPECT_EQ(Wait(server.process, 30), 1);
  const std::string text = ReadFile(transcript);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_NE(text.find("listening on port"), std::string::npos) << text;
  EXPECT_NE(text.find("< #1 admission Ann ********"), std::string::npos) << text;
  EXPECT_NE(text.find("! interrupted"), std::string::npos) << text;
  EXPECT_EQ(ResultsOf(server)["ended_early"], "interrupted");
  EXPECT_NE(ReadFile(server.process.err_path).find("Market session, seed"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(stat(server.results_path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(transcript.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace nettest
