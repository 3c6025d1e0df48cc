// Runs an engine with one participant on a fake clock, without sleeping. The participant's bids
// are decided by a callback at each announced price.
#ifndef TESTS_SUPPORT_ENGINE_DRIVER_H_
#define TESTS_SUPPORT_ENGINE_DRIVER_H_

#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/scenario.h"

namespace test_support {

// Decides whether the participant bids on an announced price: given the line ("offer g1 900" or
// "collision g1 1050") and every line the participant received before it.
using BidRule = std::function<bool(const std::string& line, const std::vector<std::string>& seen)>;

struct SessionRun {
  std::vector<std::string> lines;  // every line the participant received, in order
  int ticks = 0;                   // ticks the clock ran
  bool closed = false;             // the engine closed the participant's output
};

// Admits the agent's login with `password`, starts the session and runs it to its end, ticking
// the fake clock from one deadline to the next. Stops after max_ticks.
SessionRun RunSession(market::Engine& engine, const BidRule& rule,
                      const std::string& password = "TGatekeep", int max_ticks = 1'000'000);

// The buyer agent's own bookkeeping and rule (AgentModel) on every line the participant received:
// its credit in the auction, its table of the auction's goods and the good's resale price.
BidRule AgentRule();

// A scenario from TOML text; fails the calling test on an error.
market::Scenario MustParse(const std::string& text);

// The message tag of a line (its first word).
std::string Tag(const std::string& line);

}  // namespace test_support

#endif  // TESTS_SUPPORT_ENGINE_DRIVER_H_
