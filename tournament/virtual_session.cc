#include "tournament/virtual_session.h"

#include "engine/engine.h"

namespace tournament {

VirtualRun RunVirtualSession(const market::Scenario& scenario, uint64_t seed) {
  market::Engine engine(scenario, seed);
  market::Nanos now{0};
  engine.Start(now);
  while (const auto deadline = engine.NextDeadline()) {
    now = *deadline;
    engine.Advance(now);
    engine.TakeOutgoing();  // nobody is connected to read them
  }
  engine.TakeOutgoing();
  VirtualRun run;
  run.results = engine.TakeResults();
  run.duration_us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  return run;
}

}  // namespace tournament
