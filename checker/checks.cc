#include "checker/checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace checker {
namespace {

struct RuleWords {
  const char* id;
  const char* text;
};

constexpr RuleWords kWords[kRules] = {
    {"admission",
     "the first line is \"admission LOGIN PASSWORD\", LOGIN the gateway's one argument"},
    {"commands", "every line sent is a command (admission, bid, exit) of at most 4096 bytes"},
    {"bid-in-force", "bids only for the good under the hammer, while its price is in force"},
    {"no-bid-expelled", "no bid after its expulsion, until the next auction"},
    {"no-bid-after-close", "no bid after closed_market"},
    {"exit-at-close", "exits once the output ends after closed_market"},
    {"exit-at-end-of-input", "exits once the output ends without closed_market"},
    {"no-gateway-left", "no RemoteControl left running once the agent has exited"},
    {"no-crash", "never killed by a signal (unknown message kinds and over-long lines included)"},
};

// The q-quantile of sorted values, nearest rank.
double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

}  // namespace

const char* RuleId(Rule rule) { return kWords[static_cast<int>(rule)].id; }
const char* RuleText(Rule rule) { return kWords[static_cast<int>(rule)].text; }
bool IsAdvice(Rule rule) { return rule == Rule::kNoBidExpelled; }

void Findings::Fail(Rule rule, std::string situation, std::string line, std::string expected) {
  const int r = static_cast<int>(rule);
  if (failures[r].size() >= kFailuresKept) {
    ++more[r];
    return;
  }
  failures[r].push_back({std::move(situation), std::move(line), std::move(expected)});
}

bool Findings::Passed() const {
  for (int r = 0; r < kRules; ++r) {
    if (!failures[r].empty() && !IsAdvice(static_cast<Rule>(r))) return false;
  }
  return true;
}

std::string TextReport(const Findings& findings) {
  std::string out = "agent-check:";
  for (const std::string& word : findings.agent) out += " " + word;
  out += "\n";
  int failed = 0;
  for (int r = 0; r < kRules; ++r) {
    const auto rule = static_cast<Rule>(r);
    const auto& failures = findings.failures[r];
    const bool advice = IsAdvice(rule);
    const char* verdict = !failures.empty()   ? (advice ? "warn" : "FAIL")
                          : findings.tried[r] ? "pass"
                                              : "n/a ";
    out += std::string(verdict) + "  " + RuleId(rule) + ": " + RuleText(rule) +
           (advice ? " (advice: the market ignores such bids)" : "") + "\n";
    failed += !failures.empty() && !advice;
    for (const Failure& f : failures) {
      out += "      in " + f.situation + ": " + f.line + "\n        expected: " + f.expected + "\n";
    }
    if (findings.more[r] > 0) out += "      and " + std::to_string(findings.more[r]) + " more\n";
  }
  out += "situations:\n";
  for (const auto& s : findings.situations) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-22s %5.2f s  %s\n", s.name.c_str(), s.seconds,
                  s.ending.c_str());
    out += line;
  }
  char times[160];
  std::snprintf(times, sizeof times, "response times: %zu bids, median %.1f ms, p99 %.1f ms\n",
                findings.response_ms.size(), Quantile(findings.response_ms, 0.5),
                Quantile(findings.response_ms, 0.99));
  out += times;
  out += failed == 0 ? "all checks passed\n" : std::to_string(failed) + " checks failed\n";
  return out;
}

std::string JsonReport(const Findings& findings) {
  nlohmann::json out;
  out["agent"] = findings.agent;
  out["passed"] = findings.Passed();
  out["checks"] = nlohmann::json::array();
  for (int r = 0; r < kRules; ++r) {
    const auto rule = static_cast<Rule>(r);
    nlohmann::json check = {{"id", RuleId(rule)},
                            {"rule", RuleText(rule)},
                            {"tried", findings.tried[r]},
                            {"passed", findings.failures[r].empty()},
                            {"advice", IsAdvice(rule)},
                            {"failures", nlohmann::json::array()},
                            {"more_failures", findings.more[r]}};
    for (const Failure& f : findings.failures[r]) {
      check["failures"].push_back(
          {{"situation", f.situation}, {"line", f.line}, {"expected", f.expected}});
    }
    out["checks"].push_back(check);
  }
  out["situations"] = nlohmann::json::array();
  for (const auto& s : findings.situations) {
    out["situations"].push_back({{"name", s.name}, {"ending", s.ending}, {"seconds", s.seconds}});
  }
  out["response_ms"] = {{"count", findings.response_ms.size()},
                        {"median", Quantile(findings.response_ms, 0.5)},
                        {"p99", Quantile(findings.response_ms, 0.99)}};
  return out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace checker
