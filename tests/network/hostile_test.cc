// The hostile-client table, the rows only a real kernel can show: the relay's exit status after a
// denial, descriptors running out, a busy port, signals. The rest of the table runs in process on
// a clock the test moves (marketd/hostile_test.cc).
#include <sys/stat.h>

#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/network/net_support.h"

namespace nettest {
namespace {

const std::string kScenario =
    "tick_ms = 100\nadmission_window_ms = 60000\n"
    "[[registry]]\nlogin = \"Ann\"\npassword = \"Ann-pw\"\n"
    "[[registry]]\nlogin = \"Bob\"\npassword = \"Bob-pw\"\n"
    "[[auctions]]\ngoods = [{ id = \"g1\", kind = \"k\", seller = \"s\", initial = 1000, "
    "resale = 900, reserve = 700 }]\n";

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

}  // namespace
}  // namespace nettest
