// The stepped clock: a session clock that runs with another clock (the machine's, or a manual one
// in tests) and may be moved on at once to a later time. A session on it decides a tick as soon
// as every agent has finished reacting, by moving the clock on to the tick's deadline; an agent
// that is still busy keeps the tick open until the deadline comes on its own.
#ifndef SESSION_STEPPED_CLOCK_H_
#define SESSION_STEPPED_CLOCK_H_

#include "session/clock.h"

namespace session {

class SteppedClock : public Clock {
 public:
  explicit SteppedClock(const Clock& base) : base_(base) {}
  Nanos Now() const override { return base_.Now() + skipped_; }
  // Moves the clock on to `at` at once; never back.
  void SkipTo(Nanos at) {
    const Nanos now = Now();
    if (at > now) skipped_ += at - now;
  }
  // The time skipped so far.
  Nanos skipped() const { return skipped_; }

 private:
  const Clock& base_;
  Nanos skipped_{0};
};

}  // namespace session

#endif  // SESSION_STEPPED_CLOCK_H_
