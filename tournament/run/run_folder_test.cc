#include "tournament/run/run_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/files.h"

namespace tournament {
namespace {

namespace fs = std::filesystem;

// A runner killed with -9 leaves its folder unlocked: the next runner removes it, and leaves a
// live runner's folder and anything not a runner's alone.
TEST(RunFolder, TheNextRunnerRemovesOnlyWhatDeadRunnersLeft) {
  const std::string parent = test_support::MakeTempDir();
  fs::create_directories(parent + "/tournament-run-dead01/session-abc");
  test_support::WriteFile(parent + "/tournament-run-dead01/session-abc/results.json", "{}");
  fs::create_directories(parent + "/tournament-other");
  test_support::WriteFile(parent + "/tournament-run-file", "not a folder");

  std::string live_path, session;
  {
    RunFolder live(parent);
    live_path = live.path();
    EXPECT_FALSE(fs::exists(parent + "/tournament-run-dead01"));
    session = live.NewSessionFolder();
    EXPECT_EQ(session.rfind(live_path + "/session-", 0), 0u) << session;
    EXPECT_TRUE(fs::is_directory(session));
    EXPECT_NE(live.NewSessionFolder(), session);

    // A second runner at the same time: the first one's folder is locked, so it stays.
    RunFolder other(parent);
    EXPECT_NE(other.path(), live_path);
    EXPECT_EQ(RunFolder::RemoveStale(parent), 0);
    EXPECT_TRUE(fs::is_directory(session));
  }
  EXPECT_FALSE(fs::exists(live_path));  // removed when the runner ends
  EXPECT_TRUE(fs::exists(parent + "/tournament-other"));
  EXPECT_TRUE(fs::exists(parent + "/tournament-run-file"));
  EXPECT_THROW(RunFolder(parent + "/missing"), std::runtime_error);
}

}  // namespace
}  // namespace tournament
