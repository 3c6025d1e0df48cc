#include "session/tick_stepper.h"

#include <algorithm>

namespace session {

TickStepper::Step TickStepper::Check(Nanos deadline,
                                     const std::function<bool(size_t agent)>& idle) {
  if (clock_.Now() >= deadline) {
    for (size_t agent = 0; agent < late_.size(); ++agent) {
      if (!idle(agent)) ++late_[agent];
    }
    ++ticks_deadline_;
    checks_ = 0;
    return Step::kDeadline;
  }
  for (size_t agent = 0; agent < late_.size(); ++agent) {
    if (!idle(agent)) return Step::kWait;
  }
  clock_.SkipTo(deadline);
  ++ticks_idle_;
  checks_ = 0;
  return Step::kIdle;
}

Nanos TickStepper::NextWait(Nanos deadline) {
  const Nanos left = std::max(Nanos{0}, deadline - clock_.Now());
  const int check = checks_++;
  if (check < kChecksAtOnce) return Nanos{0};
  Nanos wait = kFirstWait;
  for (int i = kChecksAtOnce; i < check && wait < kMaxWait; ++i) wait *= 2;
  return std::min({wait, kMaxWait, left});
}

}  // namespace session
