#include "tournament/db/store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <functional>
#include <thread>
#include <vector>

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
  const std::string path = test_support::MakeTempDir() + "/t.db";
  TournamentFile t;
  t.hash = "abc";
  {
    Store store(path, true);
    const int64_t id = store.AddTournament(t, 2);
    EXPECT_EQ(store.AddTournament(t, 2), id);
    EXPECT_TRUE(store.Write(id, Record(1)));
    EXPECT_FALSE(store.Write(id, Record(1)));  // a second time writes nothing
    SessionRecord stepped = Record(2);
    stepped.virtual_time = false;
    stepped.clock = "stepped";
    EXPECT_TRUE(store.Write(id, stepped));
  }
  Store again(path, false);
  EXPECT_EQ(Count(again.db(), "tournament"), 1);
  EXPECT_EQ(Count(again.db(), "session"), 2);
  EXPECT_EQ(Count(again.db(), "participant"), 4);
  EXPECT_EQ(Count(again.db(), "good"), 6);
  EXPECT_EQ(Count(again.db(), "bid"), 8);
  Statement clocks = again.db().Prepare("SELECT seed, clock FROM session ORDER BY seed");
  ASSERT_TRUE(clocks.Step());
  EXPECT_EQ(clocks.Text(1), "virtual");
  ASSERT_TRUE(clocks.Step());
  EXPECT_EQ(clocks.Text(1), "stepped");
  const std::set<SessionKey> stored = again.StoredSessions(again.AddTournament(t, 2));
  EXPECT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored.count({"s.toml", 2, "L"}), 1u);
  Statement mode = again.db().Prepare("PRAGMA journal_mode");
  mode.Step();
  EXPECT_EQ(mode.Text(0), "wal");
}

// Whatever a session holds comes back through the views as the columns it was written as: the
// packed text must keep every figure, every null and any bytes an agent wrote to its stderr.
// The goods' plan is kept once per scenario: a session that ended early adds nothing to it, a
// longer one adds its last goods, and one whose goods differ from the plan kept is refused whole,
// the file keeping what it held.
TEST(Store, EachScenarioKeepsOnePlanOfItsGoods) {
  Store store(test_support::MakeTempDir() + "/t.db", true);
  TournamentFile t;
  t.hash = "abc";
  const int64_t id = store.AddTournament(t, 4);
  SessionRecord early = Record(1);
  early.goods.resize(1);
  early.goods[0].id = "g0";
  ASSERT_TRUE(store.Write(id, early));
  SessionRecord whole = Record(2);
  for (size_t i = 0; i < whole.goods.size(); ++i) whole.goods[i].id = "g" + std::to_string(i);
  ASSERT_TRUE(store.Write(id, whole));
  auto plan = [&] {
    std::string out;
    Statement q = store.db().Prepare(
        "SELECT position, id FROM scenario_good ORDER BY scenario_hash, position");
    while (q.Step()) out += std::to_string(q.Int(0)) + q.Text(1) + " ";
    return out;
  };
  EXPECT_EQ(plan(), "0g0 1g1 2g2 ");
  SessionRecord other = whole;
  other.key.seed = 3;
  other.goods[1].resale += 1;
  EXPECT_THROW(store.Write(id, other), DbError);
  EXPECT_EQ(plan(), "0g0 1g1 2g2 ");
  Statement sessions = store.db().Prepare("SELECT count(*) FROM session");
  sessions.Step();
  EXPECT_EQ(sessions.Int(0), 2);
  // The store goes on after the refusal; the good view joins each session to its plan.
  SessionRecord next = whole;
  next.key.seed = 4;
  EXPECT_TRUE(store.Write(id, next));
  Statement goods = store.db().Prepare("SELECT count(*), count(DISTINCT id) FROM good");
  goods.Step();
  EXPECT_EQ(goods.Int(0), 1 + 3 + 3);
  EXPECT_EQ(goods.Int(1), 3);
}

TEST(Store, PackedEntriesAndGoodsReadBackThroughTheirViews) {
  Store store(test_support::MakeTempDir() + "/t.db", true);
  TournamentFile t;
  t.hash = "abc";
  const int64_t id = store.AddTournament(t, 1);
  SessionRecord r = Record(1);
  r.efficiency = 0.875;
  r.price_over_top = 0.5;
  ParticipantRow& agent = r.participants[1];
  agent.kind = "command";
  agent.strategy = "exec ./a --name \"x,y\"";
  agent.surplus = -1234567890123;
  agent.logged_in = true;
  agent.response_median_us = 7;
  agent.status = "crashed";
  agent.exit_code = std::nullopt;
  agent.exit_signal = 9;
  agent.stderr_tail = "boom\n\"quoted\"\t\\\x01\xff end";
  agent.late_ticks = 4;
  GoodRow& sold = r.goods[0];
  sold = {2, "wine1", "wine", "Ana", 3, 2600, 2300, 1400, "sold", "Vera", 2100, 1, 2, {}};
  sold.values = {{"Vera", 2300}, {"B\"o", 2400}};
  r.goods[1].outcome = "unsold";
  ASSERT_TRUE(store.Write(id, r));

  Statement session = store.db().Prepare(
      "SELECT goods_total, goods_sold, efficiency, top_value_share, price_over_top FROM session");
  ASSERT_TRUE(session.Step());
  EXPECT_EQ(session.Int(0), 3);
  EXPECT_EQ(session.Int(1), 1);
  EXPECT_DOUBLE_EQ(session.Real(2), 0.875);
  EXPECT_TRUE(session.IsNull(3));
  EXPECT_DOUBLE_EQ(session.Real(4), 0.5);

  Statement p = store.db().Prepare(
      "SELECT position, name, kind, strategy, surplus, logged_in, response_median_us, "
      "response_p99_us, status, exit_code, exit_signal, stderr_tail, typeof(surplus), late_ticks "
      "FROM participant ORDER BY position");
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.Text(1), "A");
  EXPECT_TRUE(p.IsNull(9));   // exit_code
  EXPECT_TRUE(p.IsNull(13));  // late ticks: not on the stepped clock
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.Int(0), 1);
  EXPECT_EQ(p.Text(2), "command");
  EXPECT_EQ(p.Text(3), agent.strategy);
  EXPECT_EQ(p.Int(4), agent.surplus);
  EXPECT_EQ(p.Text(12), "integer");
  EXPECT_EQ(p.Int(5), 1);
  EXPECT_EQ(p.Int(6), 7);
  EXPECT_TRUE(p.IsNull(7));
  EXPECT_EQ(p.Text(8), "crashed");
  EXPECT_TRUE(p.IsNull(9));
  EXPECT_EQ(p.Int(10), 9);
  EXPECT_EQ(p.Text(11), agent.stderr_tail);
  EXPECT_EQ(p.Int(13), 4);
  EXPECT_FALSE(p.Step());

  Statement g = store.db().Prepare(
      "SELECT auction, id, kind, seller, round, initial, resale, reserve, outcome, buyer, price, "
      "collisions, sanctions, buyer_values, "
      "(SELECT value FROM json_each(buyer_values) WHERE key = 'B\"o') FROM good ORDER BY position");
  ASSERT_TRUE(g.Step());
  const std::vector<std::string> expected = {"2",    "wine1", "wine", "Ana",  "3", "2600", "2300",
                                             "1400", "sold",  "Vera", "2100", "1", "2"};
  for (int c = 0; c < 13; ++c) EXPECT_EQ(g.Text(c), expected[static_cast<size_t>(c)]) << c;
  EXPECT_EQ(g.Text(13), R"({"Vera":2300,"B\"o":2400})");
  EXPECT_EQ(g.Int(14), 2400);
  ASSERT_TRUE(g.Step());
  EXPECT_EQ(g.Text(8), "unsold");
  EXPECT_TRUE(g.IsNull(9));   // no buyer
  EXPECT_TRUE(g.IsNull(10));  // no price
  EXPECT_EQ(g.Text(13), "{}");
}

TEST(Store, RefusesOtherDatabases) {
  const std::string dir = test_support::MakeTempDir();
  {
    Db other(dir + "/other.db", true);
    other.Exec("CREATE TABLE x(y)");
  }
  EXPECT_THROW(Store(dir + "/other.db", true), DbError);
  {
    Store newer(dir + "/newer.db", true);
    newer.db().Exec("PRAGMA user_version = 99");
    Store older(dir + "/older.db", true);
    older.db().Exec("PRAGMA user_version = 1");  // a row per participant and good: not readable
  }
  for (const char* version : {"99", "1"}) {
    try {
      Store(dir + (version[0] == '9' ? "/newer.db" : "/older.db"), false);
      FAIL() << "opened schema version " << version;
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("schema version ") + version),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_THROW(Store(dir + "/missing.db", false), DbError);
}

// A file refused is left byte for byte as it was, whichever way it is opened: its schema is read
// before any setting (WAL above all, which is kept in the file) is changed.
TEST(Store, RefusedFilesAreLeftAsTheyWere) {
  const std::string dir = test_support::MakeTempDir();
  {
    Db other(dir + "/other.db", true);
    other.Exec("CREATE TABLE x(y); INSERT INTO x VALUES(1)");
    Db newer(dir + "/newer.db", true);
    newer.Exec("CREATE TABLE x(y); PRAGMA user_version = 99");
  }
  test_support::WriteFile(dir + "/text.db", "this is not a database at all, just some text\n");
  for (const char* name : {"/other.db", "/newer.db", "/text.db"}) {
    const std::string path = dir + name;
    const std::string before = test_support::ReadFile(path);
    ASSERT_FALSE(before.empty());
    for (const Access access : {Access::kCreate, Access::kWrite, Access::kRead}) {
      EXPECT_THROW(Store(path, access), DbError) << name;
      EXPECT_TRUE(test_support::ReadFile(path) == before) << name << " changed";
    }
  }
}

// Runs `read` in a child process that cannot write the folder (root's children drop to an
// unprivileged user first, as root writes anywhere); its exit code, 99 when it threw.
int ReadUnprivileged(const std::function<int()>& read) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(98);
    int code = 99;
    try {
      code = read();
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A reader works on a database it cannot write, in a folder nobody may write (where the file
// cannot change), and leaves nothing beside it.
TEST(Store, AReaderWorksInAFolderNobodyMayWrite) {
  const std::string dir = test_support::MakeTempDir();
  const std::string path = dir + "/t.db";
  {
    Store store(path, true);
    TournamentFile t;
    t.hash = "abc";
    store.Write(store.AddTournament(t, 2), Record(1));
  }
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  const auto files = [&dir] {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
    return n;
  };
  EXPECT_EQ(files(), 1u);
  EXPECT_EQ(ReadUnprivileged([&path] {
              Store store(path, Access::kRead);
              return Count(store.db(), "session") == 1 && Count(store.db(), "participant") == 2 ? 0
                                                                                                : 1;
            }),
            0);
  // Refused, not read, when the user cannot read it.
  ASSERT_EQ(chmod(path.c_str(), 0400), 0);
  if (geteuid() == 0) {
    EXPECT_EQ(ReadUnprivileged([&path] {
                Store store(path, Access::kRead);
                return 0;
              }),
              99);
  }
  EXPECT_EQ(files(), 1u);
  chmod(dir.c_str(), 0755);
}

// Runners started together on a new file: one creates the schema, the others wait and use it.
TEST(Store, RunnersStartingTogetherOnANewFileAllOpenIt) {
  const std::string dir = test_support::MakeTempDir();
  for (int round = 0; round < 20; ++round) {
    const std::string path = dir + "/t" + std::to_string(round) + ".db";
    std::vector<std::string> errors(4);
    std::vector<std::thread> runners;
    for (std::string& error : errors) {
      runners.emplace_back([&path, &error] {
        try {
          Store store(path, true);
          TournamentFile t;
          t.hash = "abc";
          store.AddTournament(t, 1);
        } catch (const std::exception& e) {
          error = e.what();
        }
      });
    }
    for (std::thread& r : runners) r.join();
    for (const std::string& error : errors) EXPECT_EQ(error, "") << "round " << round;
    Store store(path, Access::kRead);
    EXPECT_EQ(Count(store.db(), "tournament"), 1);
    Statement mode = store.db().Prepare("PRAGMA journal_mode");
    mode.Step();
    EXPECT_EQ(mode.Text(0), "wal");
  }
}

}  // namespace
}  // namespace tournament
