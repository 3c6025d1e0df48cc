#include "gateway/settings.h"

#include <map>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace gateway {
namespace {

struct Env {
  std::map<std::string, std::string> values;
  EnvLookup Lookup() const {
    return [this](const char* name) -> const char* {
      auto it = values.find(name);
      return it == values.end() ? nullptr : it->second.c_str();
    };
  }
};

TEST(Settings, DefaultsAndOverrides) {
  std::string error;
  Env env;
  std::optional<Settings> s = ReadSettings({"../RemoteControl", "CLogin"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  EXPECT_EQ(s->login, "CLogin");
  EXPECT_EQ(s->seed, 20240611u);  // the default scenario's
  EXPECT_EQ(s->scenario.auctions.size(), 3u);
  EXPECT_TRUE(s->results_path.empty());
  EXPECT_TRUE(s->transcript_path.empty());
  EXPECT_EQ(s->clock, ClockKind::kReal);

  env.values = {{"MARKET_SCENARIO", std::string(SCENARIOS_DIR) + "/large.toml"},
                {"MARKET_SEED", "18446744073709551615"},
                {"MARKET_RESULTS", "r.json"},
                {"MARKET_TRANSCRIPT", "t.txt"},
                {"MARKET_CLOCK", "stepped"}};
  s = ReadSettings({"RemoteControl", "Other"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  EXPECT_EQ(s->login, "Other");
  EXPECT_EQ(s->seed, 18446744073709551615u);
  EXPECT_EQ(s->scenario.auctions.size(), 21u);
  EXPECT_EQ(s->results_path, "r.json");
  EXPECT_EQ(s->transcript_path, "t.txt");
  EXPECT_EQ(s->clock, ClockKind::kStepped);

  env.values = {{"MARKET_SCENARIO", ""}, {"MARKET_SEED", ""}, {"MARKET_CLOCK", ""}};  // unset
  s = ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  EXPECT_EQ(s->seed, 20240611u);
  EXPECT_EQ(s->clock, ClockKind::kReal);

  env.values = {{"MARKET_CLOCK", "real"}};
  s = ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  EXPECT_EQ(s->clock, ClockKind::kReal);
}

TEST(Settings, MarketAddressSelectsTheRelayAndLeavesTheRestToTheServer) {
  std::string error;
  Env env;
  env.values = {{"MARKET_ADDRESS", "[::1]:7411"}, {"MARKET_SCENARIO", "/no/such/file.toml"}};
  std::optional<Settings> s = ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  ASSERT_TRUE(s->connect.has_value());
  EXPECT_EQ(s->connect->host, "::1");
  EXPECT_EQ(s->connect->port, 7411);
  EXPECT_EQ(s->login, "CLogin");
  EXPECT_EQ(s->clock, ClockKind::kReal);

  // The relay's clock is the server's: it is read, and checked, with an address too.
  env.values = {{"MARKET_ADDRESS", "127.0.0.1:7411"}, {"MARKET_CLOCK", "stepped"}};
  s = ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  EXPECT_EQ(s->clock, ClockKind::kStepped);
  env.values = {{"MARKET_ADDRESS", "127.0.0.1:7411"}, {"MARKET_CLOCK", "fast"}};
  EXPECT_FALSE(ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error).has_value());
  EXPECT_EQ(error, "MARKET_CLOCK must be stepped or real, not 'fast'");

  env.values = {{"MARKET_ADDRESS", "nowhere"}};
  EXPECT_FALSE(ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error).has_value());
  EXPECT_EQ(error, "MARKET_ADDRESS must be HOST:PORT, not 'nowhere'");

  env.values = {{"MARKET_ADDRESS", ""}};  // empty is unset: the embedded market
  s = ReadSettings({"RemoteControl", "CLogin"}, env.Lookup(), &error);
  ASSERT_TRUE(s.has_value()) << error;
  EXPECT_FALSE(s->connect.has_value());
}

TEST(Settings, FaultsAreOneLine) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/bad.toml", "seed = 1\ntick_ms = -5\n");
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string error;
  } cases[] = {
      {{"RemoteControl"}, {}, "expects exactly one argument"},
      {{"RemoteControl", "CLogin", "extra"}, {}, "expects exactly one argument"},
      {{"RemoteControl", "CLogin"},
       {{"MARKET_SCENARIO", dir + "/bad.toml"}},
       "bad scenario " + dir + "/bad.toml:2: tick_ms must be an integer from 1 to 60000"},
      {{"RemoteControl", "CLogin"},
       {{"MARKET_SCENARIO", dir + "/none.toml"}},
       "bad scenario " + dir + "/none.toml:0: cannot open the file: No such file or directory"},
      {{"RemoteControl", "CLogin"},
       {{"MARKET_SEED", "-1"}},
       "MARKET_SEED must be a whole number from 0 to 18446744073709551615, not '-1'"},
      {{"RemoteControl", "CLogin"},
       {{"MARKET_SEED", "18446744073709551616"}},
       "MARKET_SEED must be a whole number from 0 to 18446744073709551615, not "
       "'18446744073709551616'"},
      {{"RemoteControl", "CLogin"},
       {{"MARKET_SEED", "12ab"}},
       "MARKET_SEED must be a whole number from 0 to 18446744073709551615, not '12ab'"},
      {{"RemoteControl", "CLogin"},
       {{"MARKET_CLOCK", "Stepped"}},
       "MARKET_CLOCK must be stepped or real, not 'Stepped'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    Env env{c.env};
    std::string error;
    EXPECT_FALSE(ReadSettings(c.args, env.Lookup(), &error).has_value());
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace gateway
