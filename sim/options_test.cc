#include "sim/options.h"

#include <gtest/gtest.h>

#include "cli/version.h"

namespace market::sim {
namespace {

const std::string kDefault = std::string(SCENARIOS_DIR) + "/default.toml";

TEST(SimOptions, ScenarioSeedSessionsAndResults) {
  OptionsParse p = ParseOptions({"market-sim", kDefault});
  ASSERT_TRUE(p.options.has_value()) << p.error;
  EXPECT_EQ(p.options->seed, 20240611u);  // the scenario's
  EXPECT_EQ(p.options->sessions, 1);
  EXPECT_TRUE(p.options->results_path.empty());

  p = ParseOptions({"market-sim", kDefault, "--seed", "18446744073709551615", "--sessions", "40",
                    "--results", "out.jsonl"});
  ASSERT_TRUE(p.options.has_value()) << p.error;
  EXPECT_EQ(p.options->seed, 18446744073709551615u);
  EXPECT_EQ(p.options->sessions, 40);
  EXPECT_EQ(p.options->results_path, "out.jsonl");
}

TEST(SimOptions, HelpAndVersion) {
  OptionsParse p = ParseOptions({"market-sim", "--help"});
  EXPECT_EQ(p.exit_status, 0);
  EXPECT_FALSE(p.options.has_value());
  EXPECT_NE(p.out.find("--sessions"), std::string::npos);
  p = ParseOptions({"market-sim", "--version"});
  EXPECT_EQ(p.out, std::string("market-sim ") + cli::Version() + "\n");
}

TEST(SimOptions, BadUsageGivesStatus2AndOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"market-sim"},
      {"market-sim", kDefault, "--seed", "-1"},
      {"market-sim", kDefault, "--seed", "18446744073709551616"},
      {"market-sim", kDefault, "--seed", "x"},
      {"market-sim", kDefault, "--seed", "+5"},
      {"market-sim", kDefault, "--seed", ""},
      {"market-sim", kDefault, "--sessions", "0"},
      {"market-sim", kDefault, "--colour"},
      {"market-sim", "/nonexistent/scenario.toml"},
      {"market-sim", SCENARIOS_DIR},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    const OptionsParse p = ParseOptions(args);
    EXPECT_EQ(p.exit_status, 2);
    EXPECT_FALSE(p.options.has_value());
    EXPECT_FALSE(p.error.empty());
    EXPECT_EQ(p.error.find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace market::sim
