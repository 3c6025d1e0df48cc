// Virtual time: a session whose bidders are all built in needs no real clock. The engine runs on
// its injected clock, jumping from one tick's deadline to the next, as fast as the CPU allows.
// No one logs in (the scenario's registry is not used).
#ifndef SIM_VIRTUAL_SESSION_H_
#define SIM_VIRTUAL_SESSION_H_

#include <cstdint>

#include "engine/results.h"
#include "engine/scenario.h"

namespace market::sim {

// Runs the scenario with the seed to the market's close and returns its results. The same
// scenario and seed give the same results.
Results RunVirtualSession(const Scenario& scenario, uint64_t seed);

}  // namespace market::sim

#endif  // SIM_VIRTUAL_SESSION_H_
