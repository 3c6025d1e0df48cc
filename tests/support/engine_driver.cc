#include "tests/support/engine_driver.h"

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "buyer/bidding/decision.h"
#include "buyer/link/commands.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"

namespace test_support {
namespace {

using market::ClientId;
using market::Engine;
using market::kEveryone;
using market::Nanos;
using market::Outgoing;
using market::ParseScenario;
using market::Scenario;
using market::ScenarioLoad;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

std::string Tag(const std::string& line) { return line.substr(0, line.find(' ')); }

SessionRun RunSession(Engine& engine, const BidRule& rule, const std::string& password,
                      int max_ticks) {
  constexpr ClientId kClient = 7;
  SessionRun run;
  Nanos now{0};
  engine.Connect(kClient, ::agent_login);
  engine.OnLine(kClient, std::string("admission ") + ::agent_login + " " + password);
  if (engine.Admitted(kClient)) engine.Start(now);
  for (;;) {
    for (const Outgoing& out : engine.TakeOutgoing()) {
      if (out.to != kClient && out.to != kEveryone) continue;
      if (out.close) {
        run.closed = true;
        continue;
      }
      const std::string tag = Tag(out.line);
      if ((tag == "offer" || tag == "collision") && rule(out.line, run.lines)) {
        engine.OnLine(kClient, "bid");
      }
      run.lines.push_back(out.line);
    }
    const auto deadline = engine.NextDeadline();
    if (!deadline || run.ticks >= max_ticks) break;
    now = *deadline;
    engine.Advance(now);
    ++run.ticks;
  }
  return run;
}

BidRule AgentRule() {
  // What the agent has learnt so far: credit in the auction and the good under the hammer.
  struct State {
    size_t lines_read = 0;
    int32_t credit = 0;
    int32_t resale = -1;
  };
  auto state = std::make_shared<State>();
  return [state](const std::string& line, const std::vector<std::string>& seen) {
    for (; state->lines_read < seen.size(); ++state->lines_read) {
      const std::vector<std::string> w = Words(seen[state->lines_read]);
      if (w[0] == "open_auction") state->credit = ::INITIAL_CREDIT;
      if (w[0] == "good" && w.size() == 6) state->resale = ::ParseNumber(w[5].c_str());
      if (w[0] == "sold" && w[1] == ::agent_login) {
        state->credit = ::SaturatingSub(state->credit, ::ParseNumber(w[2].c_str()));
      }
    }
    return ::WouldBid(::ParseNumber(Words(line)[2].c_str()), state->credit, state->resale);
  };
}

Scenario MustParse(const std::string& text) {
  ScenarioLoad load = ParseScenario(text, "test.toml");
  EXPECT_TRUE(load.scenario.has_value()) << load.error.ToString();
  return load.scenario.value_or(Scenario{});
}

}  // namespace test_support
