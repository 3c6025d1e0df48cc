// The time a session driver runs on: a monotonic clock that starts at zero, behind an interface so
// that a session's rules can be run on a clock the caller moves.
#ifndef SESSION_CLOCK_H_
#define SESSION_CLOCK_H_

#include <chrono>

#include "engine/engine.h"

namespace session {

using market::Nanos;

class Clock {
 public:
  virtual ~Clock() = default;
  // Time since the clock's start; never goes back.
  virtual Nanos Now() const = 0;
};

// The steady clock of the machine, from the moment of construction.
class SteadyClock : public Clock {
 public:
  SteadyClock() : start_(std::chrono::steady_clock::now()) {}
  Nanos Now() const override {
    return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - start_);
  }
  // The steady clock's time point for a time of this clock (for timers that take one).
  std::chrono::steady_clock::time_point At(Nanos at) const {
    return start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(at);
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// A clock that moves only when told to: for running sessions in tests without waiting.
class ManualClock : public Clock {
 public:
  Nanos Now() const override { return now_; }
  void Set(Nanos at) {
    if (at > now_) now_ = at;
  }
  void Advance(Nanos by) { Set(now_ + by); }

 private:
  Nanos now_{0};
};

}  // namespace session

#endif  // SESSION_CLOCK_H_
