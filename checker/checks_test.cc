// The findings and their reports: a flood of failures is kept bounded and counted, and both
// reports say which rules failed, where and what was expected.
#include "checker/checks.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace checker {
namespace {

TEST(Findings, KeepTheFirstFailuresOfARuleAndCountTheRest) {
  Findings findings;
  findings.tried[static_cast<int>(Rule::kBidInForce)] = true;
  EXPECT_TRUE(findings.Passed());
  for (int i = 0; i < 25; ++i) {
    findings.Fail(Rule::kBidInForce, "offers", "bid (after \"sold Vera 800\")", "no bid");
  }
  EXPECT_FALSE(findings.Passed());
  EXPECT_EQ(findings.failures[static_cast<int>(Rule::kBidInForce)].size(), Findings::kFailuresKept);
  const std::string text = TextReport(findings);
  EXPECT_NE(text.find("FAIL  bid-in-force"), std::string::npos) << text;
  EXPECT_NE(text.find("in offers: bid (after \"sold Vera 800\")"), std::string::npos) << text;
  EXPECT_NE(text.find("and 5 more"), std::string::npos) << text;
  EXPECT_NE(text.find("n/a   admission"), std::string::npos) << text;
  const nlohmann::json json = nlohmann::json::parse(JsonReport(findings));
  EXPECT_FALSE(json["passed"].get<bool>());
  for (const auto& check : json["checks"]) {
    const bool broken = check["id"] == "bid-in-force";
    EXPECT_EQ(check["passed"].get<bool>(), !broken) << check["id"];
    EXPECT_EQ(check["more_failures"].get<int>(), broken ? 5 : 0) << check["id"];
  }
}

// A bid after expulsion costs the market nothing: warned, and the check still passes.
TEST(Findings, AdviceBrokenIsAWarningAndTheCheckPasses) {
  Findings findings;
  findings.Fail(Rule::kNoBidExpelled, "expulsion", "bid (after \"expulsion Me\")", "no bid");
  EXPECT_TRUE(findings.Passed());
  const std::string text = TextReport(findings);
  EXPECT_NE(text.find("warn  no-bid-expelled"), std::string::npos) << text;
  EXPECT_NE(text.find("all checks passed"), std::string::npos) << text;
  const nlohmann::json json = nlohmann::json::parse(JsonReport(findings));
  EXPECT_TRUE(json["passed"].get<bool>());
  for (const auto& check : json["checks"]) {
    const bool warned = check["id"] == "no-bid-expelled";
    EXPECT_EQ(check["passed"].get<bool>(), !warned) << check["id"];
    EXPECT_EQ(check["advice"].get<bool>(), warned) << check["id"];
  }
}

TEST(Findings, ResponseTimesAreTheMedianAndP99OfTheBids) {
  Findings findings;
  for (int i = 1; i <= 100; ++i) findings.response_ms.push_back(i);
  const nlohmann::json json = nlohmann::json::parse(JsonReport(findings));
  EXPECT_EQ(json["response_ms"]["count"], 100);
  EXPECT_EQ(json["response_ms"]["median"], 50.0);
  EXPECT_EQ(json["response_ms"]["p99"], 99.0);
}

}  // namespace
}  // namespace checker
