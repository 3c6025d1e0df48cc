// What agent-check finds: each rule an agent must keep, passed or failed with where it broke,
// and the agent's response times. Written as text or JSON.
#ifndef CHECKER_CHECKS_H_
#define CHECKER_CHECKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace checker {

enum class Rule {
  kAdmission,         // the first line is "admission LOGIN PASSWORD", LOGIN the gateway's argument
  kCommands,          // every line is a command of at most 4096 bytes
  kBidInForce,        // a bid only while a price of the good under the hammer is in force
  kNoBidExpelled,     // no bid while expelled, until the next auction
  kNoBidAfterClose,   // no bid after closed_market
  kExitAtClose,       // exits within the limit once the output ends after closed_market
  kExitAtEndOfInput,  // exits within the limit when the output ends without closed_market
  kNoGatewayLeft,     // every RemoteControl it started has exited once it has
  kNoCrash,           // never killed by a signal (unknown messages and over-long lines included)
};
inline constexpr int kRules = 9;

const char* RuleId(Rule rule);  // "admission", "bid-in-force", ...
// Advice rather than a rule: breaking it costs the market nothing (a bid from an expelled buyer is
// ignored and recorded as such), so it is reported as a warning and does not fail the check. The
// `buyer` breaks it: its bid rule is fixed by its interface and does not read its own expulsion.
bool IsAdvice(Rule rule);
const char* RuleText(Rule rule);  // the rule in a sentence

struct Failure {
  std::string situation;
  std::string line;      // the offending line, or what happened
  std::string expected;  // what the rule asks for there
};

struct Findings {
  std::vector<std::string> agent;  // the command run
  // The first kFailuresKept failures of each rule; `more` counts the rest, so that an agent that
  // floods the checker costs it no memory.
  static constexpr size_t kFailuresKept = 20;
  std::vector<Failure> failures[kRules];
  int64_t more[kRules] = {};
  bool tried[kRules] = {};  // some situation put the rule to the test
  struct Situation {
    std::string name;
    std::string ending;  // how the agent ended: "exit 0", "killed by signal 11", ...
    double seconds = 0;
  };
  std::vector<Situation> situations;
  std::vector<double> response_ms;  // from a price sent to the bid that answered it

  void Fail(Rule rule, std::string situation, std::string line, std::string expected);
  bool Passed() const;  // no failure of a rule; advice may have failed
};

std::string TextReport(const Findings& findings);
std::string JsonReport(const Findings& findings);

}  // namespace checker

#endif  // CHECKER_CHECKS_H_
