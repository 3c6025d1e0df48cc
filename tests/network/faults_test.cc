// The fault table of marketd: each fault a buyer can commit, or suffer, with its defined answer,
// against a real server on a loopback port. The server must also finish its session normally.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/network/net_support.h"
#include "tests/support/scenario_text.h"

namespace nettest {
namespace {

using test_support::AuctionToml;
using test_support::GoodToml;

constexpr double kTimeout = 60;

std::string Registry(const std::vector<std::string>& logins) {
  std::string text;
  for (const std::string& login : logins) {
    text += "[[registry]]\nlogin = \"" + login + "\"\npassword = \"" + login + "-pw\"\n";
  }
  return text;
}

// A short session: two goods that run down a few ticks, nobody else bidding.
const std::string kTwoGoods =
    AuctionToml({GoodToml("g1", 1000, 900, 700), GoodToml("g2", 1000, 900, 700)});

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

nlohmann::json Participant(const nlohmann::json& results, const std::string& login) {
  for (const auto& p : results["participants"]) {
    if (p["login"] == login) return p;
  }
  ADD_FAILURE() << "no participant " << login;
  return {};
}

TEST(Faults, AdmissionAnswersThenTheSessionRunsForTheAdmitted) {
  const std::string dir = MakeTempDir();
  // Two of three registered buyers fill the market, which then starts at once.
  WriteFile(dir + "/s.toml", "tick_ms = 150\nadmission_window_ms = 60000\nmax_buyers = 2\n" +
                                 Registry({"Ann", "Bob", "Cid"}) + kTwoGoods);
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);

  const struct {
    const char* name;
    std::string admission;
    std::string answer;
  } refused[] = {
      {"bad password", "admission Ann wrong\n", "deny bad_password"},
      {"unknown buyer", "admission Zed Zed-pw\n", "deny unknown_buyer"},
      {"malformed", "admission Ann\n", "deny malformed_admission"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    Client client(server.port);
    ASSERT_TRUE(client.connected());
    client.Send(c.admission);
    bool closed = false;
    EXPECT_EQ(client.ReadUntilClosed(kTimeout, &closed), std::vector<std::string>{c.answer});
    EXPECT_TRUE(closed);
  }

  Client ann(server.port);
  ann.Send("admission Ann Ann-pw\n");
  EXPECT_EQ(ann.ReadLine(kTimeout), "accept");
  {
    SCOPED_TRACE("a login already connected");
    Client twin(server.port);
    twin.Send("admission Ann Ann-pw\n");
    bool closed = false;
    EXPECT_EQ(twin.ReadUntilClosed(kTimeout, &closed),
              std::vector<std::string>{"deny already_admitted"});
    EXPECT_TRUE(closed);
  }
  Client bob(server.port);
  bob.Send("admission Bob Bob-pw\n");
  EXPECT_EQ(bob.ReadLine(kTimeout), "accept");
  EXPECT_EQ(bob.ReadLine(kTimeout), "open_auction 1");  // full: the session has started
  {
    SCOPED_TRACE("connect after the window");
    Client late(server.port);
    late.Send("admission Cid Cid-pw\n");
    bool closed = false;
    EXPECT_EQ(late.ReadUntilClosed(kTimeout, &closed),
              std::vector<std::string>{"deny market_running"});
    EXPECT_TRUE(closed);
  }
  bool closed = false;
  const std::vector<std::string> ann_saw = ann.ReadUntilClosed(kTimeout, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(ann_saw.front(), "open_auction 1");
  EXPECT_EQ(ann_saw.back(), "closed_market");
  EXPECT_TRUE(Contains(ann_saw, "buyers Ann Bob"));
  ann.Close();
  bob.Close();
  EXPECT_EQ(Wait(server.process, kTimeout), 0) << ReadFile(server.process.err_path);
  const nlohmann::json results = nlohmann::json::parse(ReadFile(server.results_path));
  EXPECT_EQ(results["participants"].size(), 2u);
  EXPECT_EQ(results["completed"], true);
}

TEST(Faults, TheWindowClosesOnTimeAndALaterBuyerIsTurnedAway) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", "tick_ms = 150\nadmission_window_ms = 300\nmin_buyers = 1\n" +
                                 Registry({"Ann", "Bob"}) + kTwoGoods);
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);
  Client ann(server.port);
  ann.Send("admission Ann Ann-pw\n");
  EXPECT_EQ(ann.ReadLine(kTimeout), "accept");
  // Alone and short of a full market: the session waits for the window's end.
  EXPECT_EQ(ann.ReadLine(kTimeout), "open_auction 1");
  EXPECT_EQ(ann.ReadLine(kTimeout), "buyers Ann");
  Client bob(server.port);
  bob.Send("admission Bob Bob-pw\n");
  bool closed = false;
  EXPECT_EQ(bob.ReadUntilClosed(kTimeout, &closed),
            std::vector<std::string>{"deny market_running"});
  EXPECT_TRUE(closed);
  const std::vector<std::string> rest = ann.ReadUntilClosed(kTimeout, &closed);
  EXPECT_TRUE(Contains(rest, "closed_market"));
  ann.Close();  // the server waits for its buyers to hang up
  EXPECT_EQ(Wait(server.process, kTimeout), 0) << ReadFile(server.process.err_path);
}

TEST(Faults, OverlongLinesAndGarbageAreRefusedRecordedAndCloseTheConnectionAtTheLimit) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml",
            "tick_ms = 150\nadmission_window_ms = 60000\n" + Registry({"Ann", "Bob"}) + kTwoGoods);
  Server server = StartServer(dir + "/s.toml", dir, {"--max-faults", "3"});
  ASSERT_NE(server.port, 0);
  Client bob(server.port);
  bob.Send("admission Bob Bob-pw\n");
  EXPECT_EQ(bob.ReadLine(kTimeout), "accept");
  Client ann(server.port);
  ann.Send("admission Ann Ann-pw\n");
  EXPECT_EQ(ann.ReadLine(kTimeout), "accept");
  EXPECT_EQ(ann.ReadLine(kTimeout), "open_auction 1");

  // A 1 MB line, then garbage bytes: two faults, and the connection stays.
  ann.Send(std::string(1 << 20, 'x') + "\n");
  ann.Send(std::string("\x01\x02\xff\x00 garbage\n", 14));
  ann.Send("exit now\n");  // a third line that is no command: the limit
  bool closed = false;
  ann.ReadUntilClosed(kTimeout, &closed);
  EXPECT_TRUE(closed);
  const std::vector<std::string> bob_saw = bob.ReadUntilClosed(kTimeout, &closed);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(Contains(bob_saw, "buyers Bob")) << "Ann leaves the buyers list";
  EXPECT_EQ(bob_saw.back(), "closed_market");
  bob.Close();
  EXPECT_EQ(Wait(server.process, kTimeout), 0) << ReadFile(server.process.err_path);

  const nlohmann::json results = nlohmann::json::parse(ReadFile(server.results_path));
  EXPECT_EQ(results["completed"], true);
  const nlohmann::json annr = Participant(results, "Ann");
  EXPECT_EQ(annr["faults"], 3);
  EXPECT_EQ(annr["left"], true);
  EXPECT_EQ(annr["dropped"], "too many faults (3 lines refused)");
  EXPECT_EQ(Participant(results, "Bob")["dropped"], nullptr);
  std::vector<std::string> reasons;
  for (const auto& i : results["ignored"]) reasons.push_back(i["reason"]);
  EXPECT_EQ(reasons, (std::vector<std::string>{"line longer than 4096 bytes", "unknown command",
                                               "unknown command"}));
  EXPECT_EQ(results["ignored"][0]["line"], std::string(80, 'x'));  // kept short
}

TEST(Faults, SlowReaderIsDroppedAndTheClockRunsOnForTheOthers) {
  const std::string dir = MakeTempDir();
  // Many goods of one tick each: far more output than the reader's buffers and queue hold.
  std::string auctions;
  for (int a = 0; a < 6; ++a) auctions += "[[auctions]]\ngenerated_goods = 100\n";
  WriteFile(dir + "/s.toml", "tick_ms = 5\nadmission_window_ms = 60000\n" +
                                 Registry({"Fast", "Slow"}) +
                                 "[generator]\ninitial = [1000, 2000]\nresale_percent = [90, 100]\n"
                                 "reserve_percent = [100, 100]\n" +
                                 auctions);
  Server server =
      StartServer(dir + "/s.toml", dir, {"--queue-limit", "8192", "--send-buffer", "4096"});
  ASSERT_NE(server.port, 0);
  Client slow(server.port, 2048);
  slow.Send("admission Slow Slow-pw\n");  // and never reads
  Process fast = Spawn({PEER_PATH, "--connect", server.address(), "--login", "Fast", "--password",
                        "Fast-pw", "--log-dir", dir, "--timeout", "100"},
                       SanitizerEnv(), dir, "fast");
  EXPECT_EQ(Wait(fast, 120), 0) << ReadFile(fast.out_path);
  EXPECT_EQ(Wait(server.process, kTimeout), 0) << ReadFile(server.process.err_path);
  slow.Close();

  const nlohmann::json results = nlohmann::json::parse(ReadFile(server.results_path));
  EXPECT_EQ(results["completed"], true);
  const std::string dropped = Participant(results, "Slow")["dropped"].get<std::string>();
  EXPECT_EQ(dropped.rfind("output queue overflow", 0), 0u) << dropped;
  EXPECT_EQ(Participant(results, "Fast")["dropped"], nullptr);
  // Every good of every auction was decided for the buyer that kept reading.
  int decided = 0;
  for (const std::string& line : Lines(ReadFile(dir + "/Fast.log"))) {
    decided += line.rfind("out_of_market ", 0) == 0 || line.rfind("sold ", 0) == 0;
  }
  EXPECT_EQ(decided, 600);
}

}  // namespace
}  // namespace nettest
