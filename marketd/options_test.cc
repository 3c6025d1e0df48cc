#include "marketd/options.h"
#include "session/exit_codes.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "cli/version.h"
#include "marketd/descriptors.h"

namespace marketd {
namespace {

const std::string kScenario = std::string(SCENARIOS_DIR) + "/network.toml";

TEST(Options, UsageFaultsGiveStatus2AndOneLine) {
  const struct {
    std::vector<std::string> args;
    std::string error_part;
  } cases[] = {
      {{"marketd"}, "--scenario is required"},
      {{"marketd", "--scenario", kScenario, "--listen", "127.0.0.1"}, "--listen must be HOST:PORT"},
      {{"marketd", "--scenario", kScenario, "--listen", "[::1]:99999"}, "--listen must be"},
      {{"marketd", "--scenario", kScenario, "--seed", "-3"}, "--seed must be a whole number"},
      {{"marketd", "--scenario", "/no/such/file.toml"}, "bad scenario /no/such/file.toml:0:"},
      {{"marketd", "--scenario", kScenario, "--max-faults", "0"}, "--max-faults"},
      {{"marketd", "--scenario", kScenario, "--bogus"}, "--bogus"},
      {{"marketd", "--scenario", kScenario, "extra"}, "extra"},
      {{"marketd", "--scenario", kScenario, "--http", "web"}, "--http must be [HOST:]PORT"},
      {{"marketd", "--scenario", kScenario, "--http", "1.2.3.4:"}, "--http must be"},
      {{"marketd", "--scenario", kScenario, "--http", "70000"}, "--http must be"},
      {{"marketd", "--scenario", kScenario, "--http-port-file", "p"}, "needs --http"},
      {{"marketd", "--scenario", kScenario, "--http", "0", "--http-queue-limit", "10"},
       "--http-queue-limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const OptionsParse parse = ParseOptions(c.args);
    EXPECT_FALSE(parse.options.has_value());
    EXPECT_EQ(parse.exit_status, 2);
    EXPECT_NE(parse.error.find(c.error_part), std::string::npos) << parse.error;
    EXPECT_EQ(parse.error.find('\n'), std::string::npos) << parse.error;
  }
}

TEST(Options, HelpVersionAndAFullCommandLine) {
  OptionsParse help = ParseOptions({"marketd", "--help"});
  EXPECT_FALSE(help.options.has_value());
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("--listen"), std::string::npos);
  OptionsParse version = ParseOptions({"marketd", "--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, std::string("marketd ") + cli::Version() + "\n");

  const OptionsParse parse = ParseOptions({"marketd",
                                           "--scenario",
                                           kScenario,
                                           "--listen",
                                           "[::1]:0",
                                           "--seed",
                                           "18446744073709551615",
                                           "--results",
                                           "r.json",
                                           "--transcript",
                                           "t.txt",
                                           "--port-file",
                                           "p",
                                           "--max-line",
                                           "100",
                                           "--max-faults",
                                           "5",
                                           "--queue-limit",
                                           "4096",
                                           "--send-buffer",
                                           "8192",
                                           "--linger-ms",
                                           "10",
                                           "--clock",
                                           "stepped"});
  ASSERT_TRUE(parse.options.has_value()) << parse.error;
  const Options& o = *parse.options;
  EXPECT_EQ(o.server.host, "::1");
  EXPECT_EQ(o.server.port, 0);
  EXPECT_EQ(o.seed, 18446744073709551615u);
  EXPECT_EQ(o.results_path, "r.json");
  EXPECT_EQ(o.transcript_path, "t.txt");
  EXPECT_EQ(o.port_file, "p");
  EXPECT_EQ(o.server.max_line, 100u);
  EXPECT_EQ(o.server.max_faults, 5);
  EXPECT_EQ(o.server.queue_limit, 4096u);
  EXPECT_EQ(o.server.send_buffer, 8192);
  EXPECT_EQ(o.server.linger.count(), 10);
  EXPECT_TRUE(o.server.stepped);

  const OptionsParse defaults = ParseOptions({"marketd", "--scenario", kScenario});
  ASSERT_TRUE(defaults.options.has_value());
  EXPECT_EQ(defaults.options->server.host, "127.0.0.1");
  EXPECT_EQ(defaults.options->seed, defaults.options->scenario.seed);
  EXPECT_FALSE(defaults.options->server.http);
  EXPECT_FALSE(defaults.options->server.stepped);
  const OptionsParse bad = ParseOptions({"marketd", "--scenario", kScenario, "--clock", "fast"});
  EXPECT_FALSE(bad.options.has_value());
  EXPECT_EQ(bad.exit_status, session::kExitBadSettings);
}

// --http takes HOST:PORT, :PORT or PORT alone; without a host the monitor stays on loopback.
TEST(Options, TheMonitorsAddress) {
  const struct {
    std::string given;
    std::string host;
    uint16_t port;
  } cases[] = {
      {"8080", "127.0.0.1", 8080},
      {":0", "127.0.0.1", 0},
      {"0.0.0.0:9000", "0.0.0.0", 9000},
      {"[::1]:81", "::1", 81},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    const OptionsParse parse =
        ParseOptions({"marketd", "--scenario", kScenario, "--http", c.given, "--http-port-file",
                      "hp", "--http-queue-limit", "2048"});
    ASSERT_TRUE(parse.options.has_value()) << parse.error;
    EXPECT_TRUE(parse.options->server.http);
    EXPECT_EQ(parse.options->server.http_host, c.host);
    EXPECT_EQ(parse.options->server.http_port, c.port);
    EXPECT_EQ(parse.options->server.http_queue_limit, 2048u);
    EXPECT_EQ(parse.options->http_port_file, "hp");
  }
}

}  // namespace
}  // namespace marketd

namespace marketd {
namespace {

// One budget for both listeners: the market's connections and the monitor's never pass the
// descriptor limit less what the server keeps for itself.
TEST(Descriptors, BothListenersShareOneBudgetWithinTheDescriptorLimit) {
  const struct {
    int market;
    int monitor;
    uint64_t limit;
    DescriptorShares held;
    const char* note;
  } cases[] = {
      {512, 0, 1024, {512, 0}, ""},
      {512, 0, 544, {512, 0}, ""},
      {512, 0, 543, {511, 0}, "--max-connections lowered from 512 to 511 (open file limit 543)"},
      {100000, 0, 64, {32, 0}, "--max-connections lowered from 100000 to 32 (open file limit 64)"},
      {10, 0, 5, {1, 0}, "--max-connections lowered from 10 to 1 (open file limit 5)"},
      {100, 0, UINT64_MAX, {100, 0}, ""},
      {512, 128, 1024, {512, 128}, ""},
      {512, 128, 672, {512, 128}, ""},
      {512,
       128,
       200,
       {126, 42},
       "--max-connections lowered from 512 to 126 and the monitor's from 128 to 42 (open file "
       "limit 200)"},
      {50,
       128,
       200,
       {50, 118},
       "the monitor's connections lowered from 128 to 118 (open file limit 200)"},
      {100000,
       128,
       64,
       {24, 8},
       "--max-connections lowered from 100000 to 24 and the monitor's from 128 to 8 (open file "
       "limit 64)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.market) + " and " + std::to_string(c.monitor) + " within " +
                 std::to_string(c.limit));
    std::string note;
    const DescriptorShares held = ShareDescriptors(c.market, c.monitor, c.limit, &note);
    EXPECT_EQ(held.market, c.held.market);
    EXPECT_EQ(held.monitor, c.held.monitor);
    EXPECT_EQ(note, c.note);
  }
  for (uint64_t limit = 34; limit < 1200; limit += 7) {
    for (const int market : {1, 7, 100, 512, 100000}) {
      for (const int monitor : {0, 1, 128}) {
        SCOPED_TRACE(std::to_string(market) + " and " + std::to_string(monitor) + " within " +
                     std::to_string(limit));
        std::string note;
        const DescriptorShares held = ShareDescriptors(market, monitor, limit, &note);
        EXPECT_LE(static_cast<uint64_t>(held.market + held.monitor), limit - kDescriptorsReserved);
        EXPECT_GE(held.market, 1);
        EXPECT_LE(held.market, market);
        EXPECT_EQ(held.monitor > 0, monitor > 0);
        EXPECT_LE(held.monitor, monitor);
        EXPECT_EQ(note.empty(), held.market == market && held.monitor == monitor);
      }
    }
  }
}

}  // namespace
}  // namespace marketd
