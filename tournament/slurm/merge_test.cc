// Shards run apart and merged read as the tournament run in one piece; shards missing, given
// twice, cut short or of another tournament are reported or refused.
#include "tournament/slurm/merge.h"

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tournament/db/leaderboard.h"
#include "tournament/db/leaderboard_format.h"
#include "tournament/db/shard_store.h"
#include "tournament/db/store.h"
#include "tournament/run/runner.h"

namespace tournament {
namespace {

// Two lineups on two scenarios, `seeds` seeds: 4 virtual-time sessions a seed.
std::string TournamentText(int seeds) {
  return std::string("name = \"merge\"\nscenarios = [\"") + SCENARIOS_DIR + "/default.toml\", \"" +
         SCENARIOS_DIR + "/default.toml\"]\nseeds = { base = 40, count = " + std::to_string(seeds) +
         " }\n" + test_support::TestData("two_lineups.toml");
}

class MergeTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test_support::MakeTempDir(); }

  TournamentFile Load(int seeds) {
    // The same scenario twice under two names keys sessions apart.
    std::string text = TournamentText(seeds);
    const std::string second = std::string(SCENARIOS_DIR) + "/default.toml\"]";
    text.replace(text.find(second), second.size(),
                 std::string(SCENARIOS_DIR) + "/../scenarios/default.toml\"]");
    TournamentLoad load = ParseTournament(text, dir_ + "/t.toml");
    EXPECT_TRUE(load.tournament) << load.error;
    return *load.tournament;
  }

  // Runs the tournament (or one shard of it) into `name` in the test's folder.
  std::string Run(const TournamentFile& t, const std::string& name,
                  std::optional<Shard> shard = std::nullopt, int jobs = 1) {
    const std::string path = dir_ + "/" + name;
    Store store(path, true);
    RunOptions options;
    options.jobs = jobs;
    options.shard = shard;
    options.db_name = path;
    const RunSummary summary = RunTournament(t, store, options);
    EXPECT_EQ(summary.found + summary.written, summary.planned);
    return path;
  }

  std::vector<std::string> RunShards(const TournamentFile& t, int64_t n) {
    std::vector<std::string> paths;
    for (int64_t k = 0; k < n; ++k) {
      paths.push_back(
          Run(t, "shard-" + std::to_string(k) + ".db", Shard{k, n}, k % 2 == 0 ? 1 : 2));
    }
    return paths;
  }

  std::string dir_;
};

std::string Board(const std::string& path) {
  Store store(path, false);
  return LeaderboardJson(ReadLeaderboard(store.db(), ""));
}

// Every row but the shard table's, with sessions named by key instead of row ids.
std::string Rows(const std::string& path) {
  Store store(path, false);
  std::string out;
  const char* queries[] = {
      "SELECT hash, name, file, sessions_planned FROM tournament",
      "SELECT scenario, seed, lineup, scenario_hash, virtual_time, started_us, duration_us, "
      "outcome, detail, revenue FROM session ORDER BY 1, 2, 3",
      "SELECT s.scenario, s.seed, s.lineup, p.* FROM participant p JOIN session s ON "
      "s.id = p.session ORDER BY 1, 2, 3, p.position",
      "SELECT s.scenario, s.seed, s.lineup, g.* FROM good g JOIN session s ON s.id = g.session "
      "ORDER BY 1, 2, 3, g.position",
      "SELECT s.scenario, s.seed, s.lineup, b.* FROM bid b JOIN session s ON s.id = b.session "
      "ORDER BY 1, 2, 3, b.position",
  };
  for (const char* sql : queries) {
    Statement q = store.db().Prepare(sql);
    while (q.Step()) {
      for (int c = 0; c < q.Columns(); ++c) {
        const bool session_id = c == 3 && std::string(sql).find("JOIN") != std::string::npos;
        out += session_id ? "-" : q.IsNull(c) ? "NULL" : q.Text(c);
        out += '|';
      }
      out += '\n';
    }
  }
  return out;
}

int64_t Count(const std::string& path, const std::string& table) {
  Store store(path, false);
  Statement q = store.db().Prepare("SELECT count(*) FROM " + table);
  q.Step();
  return q.Int(0);
}

TEST_F(MergeTest, MergedShardsEqualTheTournamentRunInOnePiece) {
  const TournamentFile t = Load(7);
  const std::string whole = Run(t, "whole.db", std::nullopt, 2);
  ASSERT_EQ(Count(whole, "session"), 28);
  const std::vector<std::string> shards = RunShards(t, 5);
  // Given in any order.
  const MergeReport report =
      MergeShards(dir_ + "/all.db", {shards[3], shards[0], shards[4], shards[2], shards[1]});
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(report.stored, 28);
  EXPECT_EQ(report.planned, 28);
  ASSERT_EQ(report.shards.size(), 5u);
  EXPECT_EQ(report.shards[0].shard, (Shard{3, 5}));
  EXPECT_EQ(report.shards[0].planned, 5);  // 28 sessions: shards 0-2 hold 6, 3-4 hold 5
  EXPECT_EQ(report.shards[2].planned, 5);
  EXPECT_EQ(report.shards[1].planned, 6);
  for (const MergedShard& m : report.shards) {
    EXPECT_EQ(m.added, m.planned) << m.path;
    EXPECT_EQ(m.stored, m.planned) << m.path;
  }
  EXPECT_EQ(Board(dir_ + "/all.db"), Board(whole));
  EXPECT_EQ(Rows(dir_ + "/all.db"), Rows(whole));
  Store merged(dir_ + "/all.db", false);
  EXPECT_FALSE(IncompleteNote(merged.db(), 1, 28, 28));
}

TEST_F(MergeTest, MissingShardIsReportedAndAddedByALaterMerge) {
  const TournamentFile t = Load(4);
  const std::string whole = Run(t, "whole.db");
  const std::vector<std::string> shards = RunShards(t, 4);
  const std::string into = dir_ + "/all.db";
  MergeReport report = MergeShards(into, {shards[0], shards[1], shards[3]});
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(report.missing, std::vector<int64_t>{2});
  EXPECT_EQ(report.stored, 12);
  EXPECT_EQ(report.planned, 16);
  {
    Store store(into, false);
    const Leaderboard board = ReadLeaderboard(store.db(), "");
    EXPECT_EQ(*IncompleteNote(store.db(), board.tournament, board.stored, board.planned),
              "incomplete: 12 of 16 sessions; holds shards 0-1 3 of 4, missing 2");
  }
  report = MergeShards(into, {shards[2]});
  EXPECT_TRUE(report.Complete());
  EXPECT_TRUE(report.missing.empty());
  EXPECT_EQ(Board(into), Board(whole));
  EXPECT_EQ(Rows(into), Rows(whole));
}

TEST_F(MergeTest, AShardGivenTwiceOrMergedAgainAddsNothing) {
  const TournamentFile t = Load(3);
  const std::string whole = Run(t, "whole.db");
  const std::vector<std::string> shards = RunShards(t, 2);
  const std::string into = dir_ + "/all.db";
  MergeReport report = MergeShards(into, {shards[0], shards[1], shards[0]});
  ASSERT_EQ(report.shards.size(), 3u);
  EXPECT_FALSE(report.shards[0].repeated);
  EXPECT_TRUE(report.shards[2].repeated);
  EXPECT_EQ(report.shards[2].added, 0);
  EXPECT_TRUE(report.Complete());
  report = MergeShards(into, {shards[1]});
  EXPECT_EQ(report.shards[0].added, 0);
  EXPECT_FALSE(report.shards[0].repeated);  // given once in this merge
  for (const char* table : {"tournament", "session", "participant", "good", "bid", "shard"}) {
    EXPECT_EQ(Count(into, table), Count(whole, table) + (std::string(table) == "shard" ? 2 : 0))
        << table;
  }
  EXPECT_EQ(Rows(into), Rows(whole));
}

TEST_F(MergeTest, AShardCutShortIsReportedAndCompletedWhenResumed) {
  const TournamentFile t = Load(4);
  const std::string whole = Run(t, "whole.db");
  std::vector<std::string> shards = RunShards(t, 2);
  {
    // As a killed task leaves it: its last sessions never written.
    Store store(shards[1], false);
    store.db().Exec(
        "DELETE FROM bid WHERE session IN (SELECT id FROM session WHERE seed >= 42);"
        "DELETE FROM session WHERE seed >= 42;");
  }
  const std::string into = dir_ + "/all.db";
  MergeReport report = MergeShards(into, shards);
  EXPECT_FALSE(report.Complete());
  EXPECT_TRUE(report.missing.empty());
  EXPECT_EQ(report.shards[1].planned, 8);
  EXPECT_EQ(report.shards[1].stored, 4);
  EXPECT_EQ(report.stored, 12);
  // The same task run again plays what is missing; merged again, only that is added.
  Run(t, "shard-1.db", Shard{1, 2});
  report = MergeShards(into, {shards[1]});
  EXPECT_EQ(report.shards[0].added, 4);
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(Board(into), Board(whole));
}

TEST_F(MergeTest, RefusesShardsOfAnotherTournamentBeforeWritingAnything) {
  const TournamentFile t = Load(3);
  const std::vector<std::string> shards = RunShards(t, 2);
  const std::string other_seeds = Run(Load(4), "other.db", Shard{1, 2});
  const std::string other_count = Run(t, "three.db", Shard{1, 3});
  const std::string whole = Run(t, "whole.db");
  struct Case {
    std::string into;
    std::vector<std::string> shards;
    std::string names;  // the file the message names
    std::string says;
  };
  const std::string fresh = dir_ + "/fresh.db";
  const Case cases[] = {
      {fresh, {shards[0], other_seeds}, other_seeds, "of tournament"},
      {fresh, {shards[0], other_count}, other_count, "in 2 shards"},
      {fresh, {shards[0], whole}, whole, "not a shard database"},
      {fresh, {shards[0], dir_ + "/missing.db"}, dir_ + "/missing.db", "cannot open"},
      {shards[0], {shards[1], shards[0]}, shards[0], "is the database merged into"},
      {whole, {shards[0]}, whole, "holds this tournament whole"},
  };
  for (const Case& c : cases) {
    const std::string before = test_support::ReadFile(c.into);
    try {
      MergeShards(c.into, c.shards);
      ADD_FAILURE() << "merged " << c.names;
    } catch (const DbError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(c.names), std::string::npos) << what;
      EXPECT_NE(what.find(c.says), std::string::npos) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
    EXPECT_EQ(test_support::ReadFile(c.into), before) << c.names;
  }
  // A merge of this tournament refuses a shard of another, naming it.
  MergeShards(dir_ + "/all.db", {shards[0]});
  try {
    MergeShards(dir_ + "/all.db", {other_count});
    ADD_FAILURE() << "merged a shard of 3 into a merge of 2";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find(other_count), std::string::npos) << e.what();
  }
  EXPECT_EQ(Count(dir_ + "/all.db", "session"), 6);  // shard 0 alone
}

}  // namespace
}  // namespace tournament
