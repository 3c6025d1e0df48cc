#include "session/intake.h"

#include <gtest/gtest.h>

#include "engine/scenario.h"
#include "tests/support/files.h"

namespace session {
namespace {

TEST(Intake, OverlongLineIsNotedShortRecordedAndCountedAsAFault) {
  const std::string dir = test_support::MakeTempDir();
  const market::Scenario scenario =
      *market::ParseScenario("[[registry]]\nlogin = \"Ann\"\npassword = \"pw\"\n[[auctions]]\n",
                             "s.toml")
           .scenario;
  market::Engine engine(scenario, 1);
  engine.Connect(4, std::nullopt);
  engine.OnLine(4, "admission Ann pw");
  ManualClock clock;
  clock.Set(Nanos{2'000'000'000});
  wire::Transcript transcript;
  ASSERT_TRUE(transcript.Open(dir + "/t.txt"));
  StampedTranscript notes(clock, transcript);
  const wire::Line line{std::string(kMaxLine, 'x'), true};
  RecordOverlong(engine, 4, line, kMaxLine, notes, "#4 ", "refused");
  ASSERT_TRUE(transcript.Close());

  EXPECT_EQ(
      test_support::ReadFile(dir + "/t.txt"),
      "2.000000 < #4 " + std::string(kOverlongExcerpt, 'x') + "... (overlong line refused)\n");
  const market::Results& results = engine.results();
  ASSERT_EQ(results.ignored.size(), 1u);
  EXPECT_EQ(results.ignored[0].reason, "line longer than 4096 bytes");
  EXPECT_EQ(results.ignored[0].from, "Ann");
  EXPECT_LE(results.ignored[0].line.size(), kOverlongExcerpt);
  ASSERT_EQ(results.participants.size(), 1u);
  EXPECT_EQ(results.participants[0].faults, 1);
}

}  // namespace
}  // namespace session
