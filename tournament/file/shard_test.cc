#include "tournament/file/shard.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/files.h"
#include "tournament/db/shard_store.h"
#include "tournament/db/store.h"

namespace tournament {
namespace {

TEST(Shard, ParsesKOfNAndRefusesEverythingElse) {
  struct Case {
    const char* text;
    int64_t index, count;  // count 0: refused
  };
  const Case cases[] = {
      {"0/1", 0, 1},   {"3/8", 3, 8},  {"99999/100000", 99999, 100000},
      {"8/8", 0, 0},   {"0/0", 0, 0},  {"0/100001", 0, 0},
      {"-1/8", 0, 0},  {"+1/8", 0, 0}, {"1/+8", 0, 0},
      {"1", 0, 0},     {"/8", 0, 0},   {"1/", 0, 0},
      {"1/8/2", 0, 0}, {" 1/8", 0, 0}, {"1/8x", 0, 0},
      {"0x1/8", 0, 0}, {"", 0, 0},     {"99999999999999999999/1", 0, 0},
  };
  for (const Case& c : cases) {
    const ShardParse r = ParseShard(c.text);
    if (c.count == 0) {
      EXPECT_FALSE(r.shard) << c.text;
      EXPECT_NE(r.error.find("--shard"), std::string::npos) << c.text;
      EXPECT_EQ(r.error.find('\n'), std::string::npos) << c.text;
    } else {
      ASSERT_TRUE(r.shard) << c.text << ": " << r.error;
      EXPECT_EQ(*r.shard, (Shard{c.index, c.count})) << c.text;
    }
  }
}

TournamentFile ThreeByThreeByTwo() {
  TournamentFile t;
  t.scenarios = {"/x/a.toml", "/x/b.toml", "/x/c.toml"};
  t.scenario_names = {"a.toml", "b.toml", "c.toml"};
  t.seeds = {9, 2, 5};
  t.lineups.resize(2);
  t.lineups[0].name = "L1";
  t.lineups[1].name = "L0";
  return t;
}

TEST(Shard, PlanFollowsTheFileOrderAndShardsSplitItEvenlyAndDisjointly) {
  const TournamentFile t = ThreeByThreeByTwo();
  const SessionPlan plan(t);
  ASSERT_EQ(plan.size(), 18);
  // Scenarios, then seeds, then lineups, as listed (not sorted).
  int64_t position = 0;
  for (size_t scenario = 0; scenario < 3; ++scenario) {
    for (uint64_t seed : t.seeds) {
      for (size_t lineup = 0; lineup < 2; ++lineup) {
        const PlannedSession p = plan.At(position++);
        EXPECT_EQ(p.key.scenario, t.scenario_names[scenario]);
        EXPECT_EQ(p.key.seed, seed);
        EXPECT_EQ(p.key.lineup, t.lineups[lineup].name);
        EXPECT_EQ(p.scenario, scenario);
        EXPECT_EQ(p.lineup, lineup);
      }
    }
  }
  EXPECT_EQ(plan.At(0).key.lineup, "L1");
  EXPECT_EQ(plan.At(2).key.seed, 2u);
  EXPECT_EQ(plan.At(6).key.scenario, "b.toml");
  for (int64_t n : {1, 4, 7, 18, 25}) {
    std::set<SessionKey> seen;
    for (int64_t k = 0; k < n; ++k) {
      int64_t size = 0;
      for (int64_t i = 0; i < plan.size(); ++i) {
        if (!InShard(i, {k, n})) continue;
        ++size;
        EXPECT_TRUE(seen.insert(plan.At(i).key).second) << "in two shards, n=" << n;
      }
      EXPECT_EQ(size, ShardSize(18, {k, n})) << k << "/" << n;
      EXPECT_LE(std::abs(size - 18 / n), 1) << k << "/" << n;
    }
    EXPECT_EQ(seen.size(), 18u) << "n=" << n;
  }
}

TEST(ShardStore, ShortensShardLists) {
  EXPECT_EQ(ShardList({}), "");
  EXPECT_EQ(ShardList({3}), "3");
  EXPECT_EQ(ShardList({0, 1, 2, 4, 6, 7}), "0-2 4 6-7");
  EXPECT_EQ(ShardList({0, 2, 4, 6}, 2), "0 2 ...");
}

TEST(ShardStore, ADatabaseHoldsOneShardOrTheWholeTournament) {
  const std::string dir = test_support::MakeTempDir();
  TournamentFile t;
  t.hash = "h1";
  Store store(dir + "/t.db", true);
  const int64_t id = store.AddTournament(t, 10);
  ClaimShard(store.db(), "t.db", id, Shard{1, 4}, 3);
  ClaimShard(store.db(), "t.db", id, Shard{1, 4}, 3);  // resumed: the same shard is fine
  struct Refused {
    std::optional<Shard> shard;
    const char* says;
  };
  const Refused refused[] = {
      {Shard{2, 4}, "holds shard 1/4 of this tournament, not 2/4"},
      {Shard{1, 5}, "holds shard 1/4 of this tournament, not 1/5"},
      {std::nullopt, "add --shard 1/4"},
  };
  for (const Refused& r : refused) {
    try {
      ClaimShard(store.db(), "t.db", id, r.shard, 3);
      ADD_FAILURE() << r.says;
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).find("t.db"), 0u) << e.what();
    }
  }
  const StoredShards held = ReadShards(store.db(), id);
  EXPECT_EQ(held.held, std::vector<int64_t>{1});
  EXPECT_EQ(held.count, 4);
  EXPECT_EQ(held.sessions_planned, 3);
  EXPECT_EQ(*IncompleteNote(store.db(), id, 2, 10),
            "shard 1 of 4: 2 of its 3 sessions; the tournament has 10 (merge its shards)");

  // A tournament run whole, with sessions stored, cannot become a shard.
  TournamentFile whole;
  whole.hash = "h2";
  const int64_t other = store.AddTournament(whole, 1);
  ClaimShard(store.db(), "t.db", other, std::nullopt, 1);
  SessionRecord r;
  r.key = {"s", 1, "L"};
  r.outcome = "completed";
  ASSERT_TRUE(store.Write(other, r));
  EXPECT_THROW(ClaimShard(store.db(), "t.db", other, Shard{0, 2}, 1), DbError);
  EXPECT_FALSE(IncompleteNote(store.db(), other, 1, 1));
}

TEST(ShardStore, MergedShardsAreIncompleteUntilEveryShardAndSessionIsThere) {
  const std::string dir = test_support::MakeTempDir();
  TournamentFile t;
  t.hash = "h";
  Store store(dir + "/t.db", true);
  const int64_t id = store.AddTournament(t, 10);
  for (int64_t k : {0, 1, 2, 4}) RecordMergedShard(store.db(), id, {k, 5}, 2);
  EXPECT_EQ(*IncompleteNote(store.db(), id, 8, 10),
            "incomplete: 8 of 10 sessions; holds shards 0-2 4 of 5, missing 3");
  RecordMergedShard(store.db(), id, {3, 5}, 2);
  EXPECT_EQ(*IncompleteNote(store.db(), id, 9, 10),
            "incomplete: 9 of 10 sessions; holds shards 0-4 of 5");
  EXPECT_FALSE(IncompleteNote(store.db(), id, 10, 10));
}

}  // namespace
}  // namespace tournament
