#include "tournament/store.h"

#include <gtest/gtest.h>

#include "tests/support/files.h"

namespace tournament {
namespace {

int64_t Count(Db& db, const std::string& table) {
  Statement q = db.Prepare("SELECT count(*) FROM " + table);
  q.Step();
  return q.Int(0);
}

SessionRecord Record(uint64_t seed) {
  SessionRecord r;
  r.key = {"s.toml", seed, "L"};
  r.scenario_hash = "h";
  r.outcome = "completed";
  r.participants.resize(2);
  r.participants[0].name = "A";
  r.participants[1].name = "B";
  r.participants[1].exit_code = 3;
  r.goods.resize(3);
  r.bids.resize(4);
  return r;
}

TEST(Store, EachSessionIsWrittenOnceWithEverythingInIt) {
  const std::string path = testfiles::MakeTempDir() + "/t.db";
  TournamentFile t;
  t.hash = "abc";
  {
    Store store(path, true);
    const int64_t id = store.AddTournament(t, 2);
    EXPECT_EQ(store.AddTournament(t, 2), id);
    EXPECT_TRUE(store.Write(id, Record(1)));
    EXPECT_FALSE(store.Write(id, Record(1)));  // a second time writes nothing
    EXPECT_TRUE(store.Write(id, Record(2)));
  }
  Store again(path, false);
  EXPECT_EQ(Count(again.db(), "tournament"), 1);
  EXPECT_EQ(Count(again.db(), "session"), 2);
  EXPECT_EQ(Count(again.db(), "participant"), 4);
  EXPECT_EQ(Count(again.db(), "good"), 6);
  EXPECT_EQ(Count(again.db(), "bid"), 8);
  const std::set<SessionKey> stored = again.StoredSessions(again.AddTournament(t, 2));
  EXPECT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored.count({"s.toml", 2, "L"}), 1u);
  Statement mode = again.db().Prepare("PRAGMA journal_mode");
  mode.Step();
  EXPECT_EQ(mode.Text(0), "wal");
}

TEST(Store, RefusesOtherDatabases) {
  const std::string dir = testfiles::MakeTempDir();
  {
    Db other(dir + "/other.db", true);
    other.Exec("CREATE TABLE x(y)");
  }
  EXPECT_THROW(Store(dir + "/other.db", true), DbError);
  {
    Store newer(dir + "/newer.db", true);
    newer.db().Exec("PRAGMA user_version = 99");
  }
  try {
    Store(dir + "/newer.db", false);
    FAIL() << "opened schema version 99";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("schema version 99"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Store(dir + "/missing.db", false), DbError);
}

}  // namespace
}  // namespace tournament

namespace tournament {
namespace {

TEST(Store, BringsVersionOneFilesToVersionTwoKeepingTheirSessions) {
  const std::string path = testfiles::MakeTempDir() + "/v1.db";
  TournamentFile t;
  t.hash = "abc";
  {
    Store store(path, true);
    store.Write(store.AddTournament(t, 2), Record(1));
    // As version 1 left it: no shard table.
    store.db().Exec("DROP TABLE shard; PRAGMA user_version = 1");
  }
  Store store(path, false);
  Statement version = store.db().Prepare("PRAGMA user_version");
  version.Step();
  EXPECT_EQ(version.Int(0), kSchemaVersion);
  EXPECT_EQ(Count(store.db(), "session"), 1);
  EXPECT_EQ(Count(store.db(), "shard"), 0);  // it held the tournament whole
}

}  // namespace
}  // namespace tournament
