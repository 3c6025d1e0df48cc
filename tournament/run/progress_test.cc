#include "tournament/run/progress.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tournament {
namespace {

TEST(Progress, LineShowsDoneRateAndTimeLeft) {
  using std::chrono::milliseconds;
  EXPECT_EQ(ProgressLine(0, 30, 0, milliseconds(0)), "0/30 sessions, --/s, -- left");
  // 10 run here in 4 s (5 found stored before): 2.5/s, 15 left take 6 s.
  EXPECT_EQ(ProgressLine(15, 30, 10, milliseconds(4000)), "15/30 sessions, 2.5/s, 0:06 left");
  EXPECT_EQ(ProgressLine(1, 1000, 1, milliseconds(1000)), "1/1000 sessions, 1.0/s, 16:39 left");
}

}  // namespace
}  // namespace tournament
