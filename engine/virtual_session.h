// Virtual time: a session whose bidders are all built in needs no real clock. The engine runs on
// its injected clock, jumping from one tick's deadline to the next, as fast as the CPU allows.
// No one logs in (the scenario's registry is not used), so no one reads the engine's messages:
// it runs silenced. market-sim and the tournament's virtual sessions both run this.
#ifndef ENGINE_VIRTUAL_SESSION_H_
#define ENGINE_VIRTUAL_SESSION_H_

#include <cstdint>

#include "engine/results.h"
#include "engine/scenario.h"

namespace market {

struct VirtualRun {
  Results results;
  int64_t duration_us = 0;  // on the virtual clock: from the start to the market's close
  int64_t messages = 0;     // built for participants and thrown away: 0 unless kBuilt
};

// Whether the engine builds the messages a connected participant would be sent. Built, they are
// only counted: a session gives the same results either way, silenced much faster.
enum class Messages { kSilenced, kBuilt };

// Runs the scenario with the seed to the market's close. The same scenario and seed give the same
// results.
VirtualRun RunVirtualSession(const Scenario& scenario, uint64_t seed,
                             Messages messages = Messages::kSilenced);

}  // namespace market

#endif  // ENGINE_VIRTUAL_SESSION_H_
