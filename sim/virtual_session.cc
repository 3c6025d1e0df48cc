#include "sim/virtual_session.h"

#include <optional>
#include <utility>

#include "engine/engine.h"

namespace market::sim {

Results RunVirtualSession(const Scenario& scenario, uint64_t seed) {
  Engine engine(scenario, seed);
  engine.Silence();
  engine.Start(Nanos{0});
  // Every tick ends in a decision, and every good ends after finitely many ticks (the price
  // falls, or rises a bounded number of times), so this loop ends.
  while (std::optional<Nanos> deadline = engine.NextDeadline()) engine.Advance(*deadline);
  return engine.TakeResults();
}

}  // namespace market::sim
