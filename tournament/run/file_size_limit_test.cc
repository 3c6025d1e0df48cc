// The runner under a file size limit (ulimit -f) its database outgrows: a one-line error and
// exit 1, as on a full disk, not death by SIGXFSZ; the database stays whole and a run without
// the limit finishes the tournament.
#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tournament/db/store.h"

namespace tournament {
namespace {

const std::string kBin = TOURNAMENT_BIN;

TEST(FileSizeLimit, TheRunnerReportsTheFailedWriteAndARunAgainFinishes) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/t.toml",
                          "scenarios = [\"" SCENARIOS_DIR
                          "/default.toml\"]\n"
                          "seeds = { base = 1, count = 400 }\n[[lineups]]\nname = \"duo\"\n"
                          "  [[lineups.entries]]\n  name = \"Vera\"\n  strategy = \"value\"\n"
                          "  [[lineups.entries]]\n  name = \"Cleo\"\n  strategy = \"cautious\"\n");
  const std::string run = "'" + kBin + "' run '" + dir + "/t.toml' --db '" + dir + "/t.db'";
  // 256 blocks of 512 bytes: the schema fits, 400 sessions do not.
  const ProcessResult limited =
      RunProcess({"/bin/sh", "-c", "ulimit -f 256 && exec " + run}, {"PATH=/usr/bin:/bin"}, 120);
  EXPECT_EQ(TermSignal(limited), 0);
  EXPECT_EQ(ExitCode(limited), 1);
  ASSERT_EQ(test_support::Lines(limited.err).size(), 1u) << limited.err;
  EXPECT_EQ(limited.err.rfind("tournament: ", 0), 0u) << limited.err;

  const ProcessResult again =
      RunProcess({"/bin/sh", "-c", "exec " + run + " --format csv"}, {"PATH=/usr/bin:/bin"}, 120);
  ASSERT_EQ(ExitCode(again), 0) << again.err;
  Store store(dir + "/t.db", Access::kRead);
  Statement q = store.db().Prepare("SELECT count(*) FROM session");
  ASSERT_TRUE(q.Step());
  EXPECT_EQ(q.Int(0), 400);
}

}  // namespace
}  // namespace tournament
