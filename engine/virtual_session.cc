#include "engine/virtual_session.h"

#include <chrono>
#include <optional>

#include "engine/engine.h"

namespace market {

VirtualRun RunVirtualSession(const Scenario& scenario, uint64_t seed, Messages messages) {
  Engine engine(scenario, seed);
  if (messages == Messages::kSilenced) engine.Silence();
  VirtualRun run;
  Nanos now{0};
  engine.Start(now);
  run.messages += static_cast<int64_t>(engine.TakeOutgoing().size());
  // Every tick ends in a decision, and every good ends after finitely many ticks (the price
  // falls, or rises a bounded number of times), so this loop ends.
  while (const std::optional<Nanos> deadline = engine.NextDeadline()) {
    now = *deadline;
    engine.Advance(now);
    run.messages += static_cast<int64_t>(engine.TakeOutgoing().size());
  }
  run.results = engine.TakeResults();
  run.duration_us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  return run;
}

}  // namespace market
