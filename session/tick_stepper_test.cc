#include "session/tick_stepper.h"

#include <chrono>
#include <vector>

#include <gtest/gtest.h>

namespace session {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using Step = TickStepper::Step;

TEST(SteppedClock, RunsWithItsBaseAndSkipsOnlyForward) {
  ManualClock base;
  SteppedClock clock(base);
  base.Advance(milliseconds(3));
  EXPECT_EQ(clock.Now(), milliseconds(3));
  clock.SkipTo(milliseconds(40));
  EXPECT_EQ(clock.Now(), milliseconds(40));
  clock.SkipTo(milliseconds(10));  // in the past: nothing
  EXPECT_EQ(clock.Now(), milliseconds(40));
  base.Advance(milliseconds(2));
  EXPECT_EQ(clock.Now(), milliseconds(42));
  EXPECT_EQ(clock.skipped(), milliseconds(37));
}

// Each case: the agents' idle answers at each check, the base clock moving between checks; what
// each check decides, where the clock stands at the end and the late ticks counted.
TEST(TickStepper, ATickEndsWhenEveryAgentIsIdleOrAtItsDeadline) {
  struct Case {
    const char* name;
    std::vector<std::vector<bool>> idle;  // per check, per agent
    std::vector<Step> steps;
    Nanos ends_at;
    std::vector<int64_t> late;
  };
  const Nanos deadline = milliseconds(40);
  const std::vector<Case> cases = {
      {"all idle: the tick ends now", {{true, true}}, {Step::kIdle}, deadline, {0, 0}},
      {"one busy, then idle",
       {{true, false}, {true, false}, {true, true}},
       {Step::kWait, Step::kWait, Step::kIdle},
       deadline,
       {0, 0}},
      {"one busy to the deadline: late for it only",
       {{true, false}, {true, false}, {true, false}, {true, false}, {true, false}},
       {Step::kWait, Step::kWait, Step::kWait, Step::kWait, Step::kDeadline},
       milliseconds(40),
       {0, 1}},
      {"idle at the deadline itself: not late",
       {{false, false}, {false, false}, {false, false}, {false, false}, {true, true}},
       {Step::kWait, Step::kWait, Step::kWait, Step::kWait, Step::kDeadline},
       milliseconds(40),
       {0, 0}},
      {"both busy to the deadline",
       {{false, false}, {false, false}, {false, false}, {false, false}, {false, false}},
       {Step::kWait, Step::kWait, Step::kWait, Step::kWait, Step::kDeadline},
       milliseconds(40),
       {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock base;
    SteppedClock clock(base);
    TickStepper stepper(clock, 2);
    for (size_t i = 0; i < c.idle.size(); ++i) {
      const Step step = stepper.Check(deadline, [&](size_t agent) { return c.idle[i][agent]; });
      EXPECT_EQ(step, c.steps[i]) << "check " << i;
      if (step == Step::kWait) base.Advance(milliseconds(10));
    }
    EXPECT_EQ(clock.Now(), c.ends_at);
    for (size_t agent = 0; agent < c.late.size(); ++agent) {
      EXPECT_EQ(stepper.late_ticks(agent), c.late[agent]) << "agent " << agent;
    }
  }
}

TEST(TickStepper, SkippedTicksKeepTheirLengthAndLateTicksAddUp) {
  ManualClock base;
  SteppedClock clock(base);
  TickStepper stepper(clock, 1);
  const Nanos tick = milliseconds(40);
  Nanos deadline = tick;
  // Three ticks answered at once, then two the agent never answers.
  for (int i = 0; i < 3; ++i) {
    base.Advance(microseconds(30));  // the agent's reaction
    ASSERT_EQ(stepper.Check(deadline, [](size_t) { return true; }), Step::kIdle);
    EXPECT_EQ(clock.Now(), deadline);
    deadline += tick;
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(stepper.Check(deadline, [](size_t) { return false; }), Step::kWait);
    base.Advance(tick);
    EXPECT_EQ(stepper.Check(deadline, [](size_t) { return false; }), Step::kDeadline);
    deadline += tick;
  }
  EXPECT_EQ(stepper.late_ticks(0), 2);
  EXPECT_EQ(stepper.ticks_idle(), 3);
  EXPECT_EQ(stepper.ticks_deadline(), 2);
}

TEST(TickStepper, BeforeTheDeadlineTheAgentsAreAskedOnlyUntilOneIsBusy) {
  ManualClock base;
  SteppedClock clock(base);
  TickStepper stepper(clock, 3);
  std::vector<int> asked(3, 0);
  const auto answer = [&](size_t agent) {
    ++asked[agent];
    return agent != 0;
  };
  EXPECT_EQ(stepper.Check(milliseconds(40), answer), Step::kWait);
  EXPECT_EQ(asked, (std::vector<int>{1, 0, 0}));
  base.Advance(milliseconds(40));
  EXPECT_EQ(stepper.Check(milliseconds(40), answer), Step::kDeadline);
  EXPECT_EQ(asked, (std::vector<int>{2, 1, 1}));
}

TEST(TickStepper, WaitsStartAtOnceThenDoubleUpToTheCapAndNeverPassTheDeadline) {
  ManualClock base;
  SteppedClock clock(base);
  TickStepper stepper(clock, 1);
  const Nanos deadline = milliseconds(40);
  for (int i = 0; i < TickStepper::kChecksAtOnce; ++i)
    EXPECT_EQ(stepper.NextWait(deadline), Nanos{0});
  Nanos expected = TickStepper::kFirstWait;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(stepper.NextWait(deadline), std::min(expected, TickStepper::kMaxWait));
    expected *= 2;
  }
  EXPECT_EQ(stepper.NextWait(deadline), TickStepper::kMaxWait);
  stepper.Activity();
  EXPECT_EQ(stepper.NextWait(deadline), Nanos{0});
  base.Set(deadline - microseconds(5));
  for (int i = 0; i < 20; ++i) EXPECT_LE(stepper.NextWait(deadline), microseconds(5));
  // A tick that ends starts the next one with checks at once.
  stepper.Check(deadline, [](size_t) { return true; });
  EXPECT_EQ(stepper.NextWait(deadline + milliseconds(40)), Nanos{0});
}

}  // namespace
}  // namespace session
