// The example agents of agents/ (the Python library's two strategies and the C template) each
// play a whole session against the real gateway, found along PATH as an agent author would have
// it. The session runs on the real clock, so the test checks what holds whatever tick a bid lands
// in: admitted, the market closed, no fault, at least one good bought, and every purchase within
// the agent's rule (the one good whose resale price is below its reserve never bought). With a
// clock that moves on as soon as the agent is idle, each agent's purchases are exact: t1 and w1
// at 900 for the threshold bidders, at 500 for the shading bidder. MARKET_CLOCK is passed on to
// the gateway when it is set.
#include <cstdlib>
#include <functional>
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

// Whether the agent's rule allows buying at `price` a good of `resale`, with n buyers present.
using Rule = std::function<bool(long long price, long long resale, long long n)>;

struct Case {
  std::string name;
  std::vector<std::string> argv;
  Rule rule;
};

const Rule kNinetyPercent = [](long long price, long long resale, long long) {
  return price * 100 <= resale * 90;
};

std::vector<Case> Cases() {
  const std::string python = AGENTS_DIR "/python/";
  return {
      {"python threshold", {PYTHON3, python + "threshold_bidder.py", "90"}, kNinetyPercent},
      {"python shading",
       {PYTHON3, python + "shading_bidder.py"},
       [](long long price, long long resale, long long n) {
         return price * n <= resale * (n - 1);
       }},
      {"c template", {C_AGENT, "90"}, kNinetyPercent},
  };
}

TEST(ExampleAgents, EachPlaysAWholeSessionByItsRule) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string dir = MakeTempDir();
    std::vector<std::string> env = {
        std::string("PATH=") + BIN_DIR + ":/usr/bin:/bin",
        std::string("MARKET_SCENARIO=") + AGENTS_SCENARIO,
        "PYTHONDONTWRITEBYTECODE=1",  // the library is imported from the source tree
        "MARKET_RESULTS=" + dir + "/results.json",
    };
    for (const char* name : {"MARKET_CLOCK", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    Conversation nothing;
    nothing.close_input_at_once = true;
    const ChildResult run = Converse(c.argv, env, nothing, 60);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(ExitStatus(run), 0) << run.out << run.err;
    const nlohmann::json results = nlohmann::json::parse(ReadFile(dir + "/results.json"), nullptr,
                                                         /*allow_exceptions=*/false);
    ASSERT_TRUE(results.is_object()) << run.err;
    EXPECT_TRUE(results["completed"].get<bool>());
    ASSERT_EQ(results["participants"].size(), 1u);
    EXPECT_EQ(results["participants"][0]["login"], "CLogin");
    EXPECT_EQ(results["participants"][0]["faults"], 0);
    EXPECT_EQ(results["ignored_total"], 0) << results["ignored"].dump();
    int bought = 0;
    for (const auto& auction : results["auctions"]) {
      const auto n = static_cast<long long>(auction["buyers"].size());
      for (const auto& good : auction["goods"]) {
        if (good["buyer"] != "CLogin") continue;
        ++bought;
        const long long price = good["price"];
        EXPECT_TRUE(c.rule(price, good["resale"], n))
            << good["id"] << " bought at " << price << ", resale " << good["resale"];
      }
    }
    EXPECT_GE(bought, 1);
  }
}

}  // namespace
