#include "tests/support/engine_driver.h"

#include <memory>

#include <gtest/gtest.h>

#include "buyer/link/commands.h"
#include "tests/support/agent_model.h"

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
  struct State {
    AgentModel agent;
    size_t lines_read = 0;  // of the lines seen, those the model has taken
  };
  auto state = std::make_shared<State>();
  return [state](const std::string& line, const std::vector<std::string>& seen) {
    for (; state->lines_read < seen.size(); ++state->lines_read) {
      state->agent.Receive(seen[state->lines_read]);
    }
    ++state->lines_read;  // the offer itself: the next line seen
    return state->agent.Receive(line);
  };
}

Scenario MustParse(const std::string& text) {
  ScenarioLoad load = ParseScenario(text, "test.toml");
  EXPECT_TRUE(load.scenario.has_value()) << load.error.ToString();
  return load.scenario.value_or(Scenario{});
}

}  // namespace test_support
