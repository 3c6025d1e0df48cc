// A session where every bidder is built in: the market engine on a virtual clock, each tick
// decided the moment the previous one is, as fast as the CPU allows.
#ifndef TOURNAMENT_VIRTUAL_SESSION_H_
#define TOURNAMENT_VIRTUAL_SESSION_H_

#include <cstdint>

#include "engine/results.h"
#include "engine/scenario.h"

namespace tournament {

struct VirtualRun {
  market::Results results;
  int64_t duration_us = 0;  // on the virtual clock: from the start to the market's close
};

// Runs the scenario with this seed and no agent connected, to its close.
VirtualRun RunVirtualSession(const market::Scenario& scenario, uint64_t seed);

}  // namespace tournament

#endif  // TOURNAMENT_VIRTUAL_SESSION_H_
