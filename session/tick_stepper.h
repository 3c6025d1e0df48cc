// The stepping rule, without any I/O: when a tick ends on the stepped clock, and which agents
// made it wait.
//
// A tick ends as soon as every agent has finished reacting to what the market sent it (the
// driver's answer for each agent: "idle"), or at its deadline, whichever comes first. A tick that
// ends at its deadline while an agent is still busy is a late tick of that agent: the session was
// decided by the clock and not by the agent's answer, so it may differ from run to run.
//
// The driver asks Check each time it has looked at its agents' input, and waits for input for at
// most NextWait() between two checks: a few checks at once (an agent answers within
// microseconds), then waits that double up to kMaxWait, so that a slow agent costs little CPU.
#ifndef SESSION_TICK_STEPPER_H_
#define SESSION_TICK_STEPPER_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "session/stepped_clock.h"

namespace session {

class TickStepper {
 public:
  enum class Step {
    kWait,      // an agent is busy and the deadline has not come: keep waiting
    kIdle,      // every agent is idle: the clock has been moved on to the deadline
    kDeadline,  // the deadline has come; the agents busy at it have a late tick more
  };

  static constexpr int kChecksAtOnce = 8;
  static constexpr Nanos kFirstWait = std::chrono::microseconds(20);
  static constexpr Nanos kMaxWait = std::chrono::milliseconds(1);

  TickStepper(SteppedClock& clock, size_t agents) : clock_(clock), late_(agents, 0) {}

  // The tick that ends at `deadline` (on the stepped clock) is in force; `idle(agent)` answers
  // whether that agent has finished reacting. Before the deadline the agents are asked in order
  // until one is busy; at the deadline every agent is asked.
  Step Check(Nanos deadline, const std::function<bool(size_t agent)>& idle);

  // How long the driver may wait for input before the next Check: zero for the first
  // kChecksAtOnce checks of a tick or after the agents did something, then kFirstWait doubling
  // up to kMaxWait, never past the deadline.
  Nanos NextWait(Nanos deadline);
  // An agent did something (its input was read): the next checks come at once again.
  void Activity() { checks_ = 0; }

  int64_t late_ticks(size_t agent) const { return late_[agent]; }
  int64_t ticks_idle() const { return ticks_idle_; }
  int64_t ticks_deadline() const { return ticks_deadline_; }

 private:
  SteppedClock& clock_;
  std::vector<int64_t> late_;
  int64_t ticks_idle_ = 0;
  int64_t ticks_deadline_ = 0;
  int checks_ = 0;  // since the tick began or the agents last did something
};

}  // namespace session

#endif  // SESSION_TICK_STEPPER_H_
