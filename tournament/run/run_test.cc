// The tournament program end to end: a run killed at any moment and run again stores every
// session exactly once, as an uninterrupted run does; agents that crash or hang are recorded and
// leave no process behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tournament/db/store.h"

namespace tournament {
namespace {

const std::string kBin = TOURNAMENT_BIN;

// The test's own environment, so agents find their programs on PATH.
std::vector<std::string> Env() {
  std::vector<std::string> env;
  for (char** e = ::environ; *e != nullptr; ++e) env.emplace_back(*e);
  return env;
}

// The whole file as `sqlite3 .dump` shows it: the schema, then every table's rows in the order it
// stores them (by row id, or by primary key for a table without row ids), each value typed and in
// full; the tables named in `except` left out.
std::string Dump(const std::string& db_path, const std::set<std::string>& except = {}) {
  Store store(db_path, Access::kRead);
  Db& db = store.db();
  std::string out;
  std::vector<std::string> tables;
  {
    Statement q = db.Prepare("SELECT type, name, sql FROM sqlite_master ORDER BY name");
    while (q.Step()) {
      if (except.count(q.Text(1)) != 0) continue;
      out += q.Text(0) + " " + q.Text(1) + ": " + (q.IsNull(2) ? "" : q.Text(2)) + "\n";
      if (q.Text(0) == "table") tables.push_back(q.Text(1));
    }
  }
  for (const std::string& table : tables) {
    std::string picks;
    Statement columns = db.Prepare("SELECT name FROM pragma_table_info(?)");
    columns.Bind(1, table);
    while (columns.Step()) {
      const std::string c = "\"" + columns.Text(0) + "\"";
      picks += (picks.empty() ? "" : " || ',' || ") + std::string("CASE typeof(") + c +
               ") WHEN 'real' THEN printf('%!.20e', " + c + ") ELSE quote(" + c + ") END";
    }
    Statement rows = db.Prepare("SELECT " + picks + " FROM \"" + table + "\"");
    while (rows.Step()) out += table + "(" + rows.Text(0) + ")\n";
  }
  return out;
}

// Whether two files dump the same; when not, the first line that differs in each.
testing::AssertionResult SameDump(const std::string& a, const std::string& b,
                                  const std::set<std::string>& except = {}) {
  const std::string x = Dump(a, except), y = Dump(b, except);
  if (x == y) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < x.size() && at < y.size() && x[at] == y[at]) ++at;
  const size_t line = x.rfind('\n', at) == std::string::npos ? 0 : x.rfind('\n', at) + 1;
  auto cut = [&](const std::string& s) {
    return s.substr(line, std::min<size_t>(300, s.find('\n', line) - line));
  };
  return testing::AssertionFailure()
         << a << " and " << b << " differ:\n  " << cut(x) << "\n  " << cut(y);
}

int64_t Sessions(const std::string& db_path) {
  try {
    Store store(db_path, false);
    Statement q = store.db().Prepare("SELECT count(*) FROM session");
    q.Step();
    return q.Int(0);
  } catch (const DbError&) {
    return 0;  // not created yet
  }
}

test_support::Child Start(const std::vector<std::string>& args) {
  test_support::SpawnOptions options;
  options.argv = args;
  options.argv.insert(options.argv.begin(), kBin);
  options.out = test_support::Stream::kNull;
  options.err = test_support::Stream::kNull;
  return test_support::Spawn(options);
}

const std::string kVirtual = R"(
name = "resume"
scenarios = ["%SCENARIOS%/default.toml"]
seeds = { base = 100, count = 150 }
)" + test_support::TestData("two_lineups.toml");

std::string WithScenarios(std::string text) {
  const std::string mark = "%SCENARIOS%";
  text.replace(text.find(mark), mark.size(), SCENARIOS_DIR);
  return text;
}

// The virtual tournament with 400 seeds: 800 sessions, stored in several batches.
std::string LongVirtual() {
  std::string text = WithScenarios(kVirtual);
  const std::string count = "count = 150";
  text.replace(text.find(count), count.size(), "count = 3000");
  return text;
}

// A new folder with a tournament file t.toml (the virtual tournament unless given) and whole.db,
// its uninterrupted run.
struct WholeRun {
  std::string dir;
  ProcessResult run;
};
WholeRun RunWhole(const std::string& text = WithScenarios(kVirtual)) {
  WholeRun whole{test_support::MakeTempDir(), {}};
  test_support::WriteFile(whole.dir + "/t.toml", text);
  whole.run = RunProcess(
      {kBin, "run", whole.dir + "/t.toml", "--db", whole.dir + "/whole.db", "--jobs", "2"}, Env(),
      120);
  return whole;
}

// The file is the same byte for byte whatever order the sessions ended in: one job or two, killed
// and resumed (below), merged from shards (ShardsMerge...).
TEST(TournamentRun, KilledAndRunAgainEqualsAnUninterruptedRun) {
  constexpr int64_t kSessions = 6000;  // several of the runner's batches
  const auto [dir, whole] = RunWhole(LongVirtual());
  ASSERT_EQ(ExitCode(whole), 0) << whole.err;
  ASSERT_EQ(Sessions(dir + "/whole.db"), kSessions);
  const ProcessResult one = RunProcess(
      {kBin, "run", dir + "/t.toml", "--db", dir + "/one.db", "--jobs", "1"}, Env(), 120);
  ASSERT_EQ(ExitCode(one), 0) << one.err;
  EXPECT_TRUE(SameDump(dir + "/one.db", dir + "/whole.db"));

  // Killed without warning between two batches, then the same command again: the run stops
  // itself once its first batch is committed (TOURNAMENT_STOP_AFTER_BATCHES, runner.h), and is
  // killed while stopped, so the kill always lands midway. What the database holds once the run
  // is dead is checked to be part of the tournament only.
  const std::string db = dir + "/resumed.db";
  setenv("TOURNAMENT_STOP_AFTER_BATCHES", "1", 1);
  test_support::Child run = Start({"run", dir + "/t.toml", "--db", db, "--jobs", "2"});
  unsetenv("TOURNAMENT_STOP_AFTER_BATCHES");
  ASSERT_GT(run.pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(run.pid, &status, WUNTRACED), run.pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << "the run ended before its first batch stopped it, status "
                                  << status;
  kill(run.pid, SIGKILL);
  status = test_support::Wait(run);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  const int64_t stored = Sessions(db);
  ASSERT_GT(stored, 0);
  ASSERT_LT(stored, kSessions) << "every session was stored before the kill";
  const ProcessResult again =
      RunProcess({kBin, "run", dir + "/t.toml", "--db", db, "--jobs", "2"}, Env(), 120);
  ASSERT_EQ(ExitCode(again), 0) << again.err;
  const ProcessResult third =
      RunProcess({kBin, "run", dir + "/t.toml", "--db", db, "--jobs", "1"}, Env(), 120);
  ASSERT_EQ(ExitCode(third), 0) << third.err;
  EXPECT_TRUE(SameDump(db, dir + "/whole.db"));
  EXPECT_EQ(third.out, whole.out);  // the same leaderboard
}

// The database failing mid-run (a trigger refuses one session) stops the run with exit 1 and the
// database's message, keeping only whole batches; run again once the fault is gone, the
// tournament ends as an uninterrupted run does.
TEST(TournamentRun, DatabaseFailingMidRunStopsItAndARunAgainFinishes) {
  const auto [dir, whole] = RunWhole();
  ASSERT_EQ(ExitCode(whole), 0) << whole.err;

  const std::string db = dir + "/faulty.db";
  {
    Store store(db, true);
    store.db().Exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON session WHEN NEW.seed = 180 AND "
        "NEW.lineup = 'duo' BEGIN SELECT RAISE(ABORT, 'disk gone'); END;");
  }
  const ProcessResult failed =
      RunProcess({kBin, "run", dir + "/t.toml", "--db", db, "--jobs", "2"}, Env(), 120);
  EXPECT_EQ(ExitCode(failed), 1);
  EXPECT_NE(failed.err.find("disk gone"), std::string::npos) << failed.err;
  EXPECT_LT(Sessions(db), 300);
  {
    Store store(db, false);
    store.db().Exec("DROP TRIGGER refuse");
  }
  const ProcessResult again =
      RunProcess({kBin, "run", dir + "/t.toml", "--db", db, "--jobs", "2"}, Env(), 120);
  ASSERT_EQ(ExitCode(again), 0) << again.err;
  EXPECT_TRUE(SameDump(db, dir + "/whole.db"));
}

// Agents that never log in: one crashes at once, one hangs.
const char* kAgents = R"(
scenarios = ["%SCENARIOS%/default.toml"]
seeds = [1]
tick_ms = 5
deadline_ms = 2000
admission_ms = 200

[[lineups]]
name = "faulty"
  [[lineups.entries]]
  name = "Vera"
  strategy = "value"
  [[lineups.entries]]
  command = "echo boom >&2; exit 3"
  login = "Crash"
  password = "pw"
  [[lineups.entries]]
  command = "echo $$ > hang.pid; exec sleep 600"
  login = "Hang"
  password = "pw"
)";

bool Alive(const std::string& pid_file) {
  const std::string text = test_support::ReadFile(pid_file);
  if (text.empty()) return false;
  return kill(static_cast<pid_t>(std::stol(text)), 0) == 0;
}

// When the admission window passes with no agent in, the session ends then, not at the deadline:
// the hanging agent never logged in. With a window longer than the deadline, the deadline ends
// the session and the agent still running is a time-out.
TEST(TournamentRun, CrashingAndHangingAgentsAreRecordedAndReaped) {
  struct Case {
    const char* admission;
    const char* deadline;
    const char* hang_status;
    const char* detail;
  };
  const Case cases[] = {
      {"admission_ms = 200", "deadline_ms = 60000", "no_login",
       "no agent logged in during the admission window"},
      {"admission_ms = 60000", "deadline_ms = 2000", "timeout", "deadline passed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.admission);
    const std::string dir = test_support::MakeTempDir();
    std::string text = WithScenarios(kAgents);
    text.replace(text.find("admission_ms = 200"), 18, c.admission);
    text.replace(text.find("deadline_ms = 2000"), 18, c.deadline);
    test_support::WriteFile(dir + "/t.toml", text);
    const ProcessResult run = RunProcess(
        {kBin, "run", dir + "/t.toml", "--db", dir + "/t.db", "--format", "csv"}, Env(), 60);
    ASSERT_EQ(ExitCode(run), 0) << run.err;
    EXPECT_FALSE(Alive(dir + "/hang.pid"));

    Store store(dir + "/t.db", false);
    Statement session = store.db().Prepare("SELECT outcome, detail, duration_us FROM session");
    ASSERT_TRUE(session.Step());
    EXPECT_EQ(session.Text(0), "ended_early");
    EXPECT_EQ(session.Text(1), c.detail);
    Statement q = store.db().Prepare(
        "SELECT name, status, exit_code, exit_signal, stderr_tail FROM participant ORDER BY "
        "position");
    ASSERT_TRUE(q.Step());
    EXPECT_EQ(q.Text(0), "Vera");
    ASSERT_TRUE(q.Step());
    EXPECT_EQ(q.Text(1), "crashed");
    EXPECT_EQ(q.Int(2), 3);
    EXPECT_EQ(q.Text(4), "boom\n");
    ASSERT_TRUE(q.Step());
    EXPECT_EQ(q.Text(1), c.hang_status);
    EXPECT_TRUE(q.IsNull(2));
    EXPECT_EQ(q.Int(3), SIGKILL);
    // The leaderboard, in CSV, counts them.
    EXPECT_NE(run.out.find("faulty,"), std::string::npos) << run.out;
    const std::vector<std::string> lines = test_support::Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_NE(lines[0].find("crashed,timeouts"), std::string::npos);
  }
}

TEST(TournamentRun, InterruptedRunEndsItsAgentsAndStoresNothingHalfDone) {
  const std::string dir = test_support::MakeTempDir();
  std::string text = WithScenarios(kAgents);
  text.replace(text.find("deadline_ms = 2000"), 18, "deadline_ms = 600000");
  text.replace(text.find("admission_ms = 200"), 18, "admission_ms = 60000");
  test_support::WriteFile(dir + "/t.toml", text);
  test_support::Child run = Start({"run", dir + "/t.toml", "--db", dir + "/t.db"});
  ASSERT_GT(run.pid, 0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Alive(dir + "/hang.pid") && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(Alive(dir + "/hang.pid"));
  kill(run.pid, SIGTERM);
  bool timed_out = false;
  const int status = test_support::Wait(run, test_support::After(30), &timed_out);
  ASSERT_FALSE(timed_out);
  EXPECT_EQ(test_support::ExitCodeOf(status), 128 + SIGTERM);
  EXPECT_FALSE(Alive(dir + "/hang.pid"));
  EXPECT_EQ(Sessions(dir + "/t.db"), 0);
}

TEST(TournamentRun, BadUsageAndBadFilesExitTwoAndFailuresOne) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/bad.toml", "seeds = [1]\n");
  // An entry the scenario refuses: the file's fault, found before any database is made.
  std::string bogus = WithScenarios(kVirtual);
  bogus.insert(bogus.find("valuation"), "bogus = 1\n");
  test_support::WriteFile(dir + "/bogus.toml", bogus);
  test_support::WriteFile(dir + "/agents.toml", WithScenarios(kAgents));
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const Case cases[] = {
      {{kBin}, 2},
      {{kBin, "run", dir + "/bad.toml"}, 2},  // no --db
      {{kBin, "show", "--db", dir + "/x.db", "--format", "xml"}, 2},
      {{kBin, "run", dir + "/bad.toml", "--db", dir + "/x.db"}, 2},
      {{kBin, "show", "--db", dir + "/missing.db"}, 1},
      // No marketd there: refused before any session is stored as failed.
      {{kBin, "run", dir + "/agents.toml", "--db", dir + "/y.db", "--bin", dir}, 1},
      {{kBin, "run", dir + "/agents.toml", "--db", dir + "/z.db", "--shard", "3/3"}, 2},
      {{kBin, "run", dir + "/agents.toml", "--db", dir + "/z.db", "--shard", "one"}, 2},
      {{kBin, "plan", dir + "/agents.toml", "--shards", "0"}, 2},
      {{kBin, "plan", dir + "/bad.toml"}, 2},
      {{kBin, "run", dir + "/bogus.toml", "--db", dir + "/bogus.db"}, 2},
      {{kBin, "plan", dir + "/bogus.toml"}, 2},
      {{kBin, "slurm", dir + "/bogus.toml", "--shards", "2", "--out", dir + "/out"}, 2},
      {{kBin, "merge", "--into", dir + "/m.db"}, 2},  // no shard files
      {{kBin, "merge", "--into", dir + "/m.db", dir + "/missing.db"}, 1},
      {{kBin, "slurm", dir + "/agents.toml", "--shards", "2"}, 2},  // no --out
      {{kBin, "slurm", dir + "/agents.toml", "--shards", "2", "--out", dir, "--time", "1 day"}, 2},
      {{kBin, "--version"}, 0},
      {{kBin, "run", "--help"}, 0},
  };
  for (const Case& c : cases) {
    const ProcessResult r = RunProcess(c.args, Env(), 30);
    EXPECT_EQ(ExitCode(r), c.code) << c.args.back() << ": " << r.err;
    if (c.code != 0) {
      EXPECT_EQ(test_support::Lines(r.err).size(), 1u) << r.err;
    }
  }
  EXPECT_EQ(Sessions(dir + "/y.db"), 0);
  EXPECT_EQ(Sessions(dir + "/z.db"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir + "/bogus.db"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/out"));
  const ProcessResult r =
      RunProcess({kBin, "run", dir + "/bogus.toml", "--db", dir + "/b.db"}, Env(), 30);
  EXPECT_EQ(r.err.rfind("tournament: " + dir + "/bogus.toml:", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(": unknown key 'bogus'"), std::string::npos) << r.err;
}

// 1,000,000 seeds times 1,000 lineups: 10^9 sessions, planned and run in shards from a file of a
// few dozen KB, none of them held in memory: shard 7 of 100,000 is lineup L7 at seeds 1, 101, ...
TEST(TournamentRun, AHugeTournamentIsEnumeratedNotMaterialised) {
  const std::string dir = test_support::MakeTempDir();
  std::string text =
      "scenarios = [\"%SCENARIOS%/default.toml\"]\nseeds = { base = 1, count = "
      "1000000 }\n";
  for (int l = 0; l < 1000; ++l) {
    text += "[[lineups]]\nname = \"L" + std::to_string(l) +
            "\"\n[[lineups.entries]]\nname = \"A\"\nstrategy = \"value\"\n";
  }
  const std::string t = dir + "/t.toml";
  test_support::WriteFile(t, WithScenarios(text.c_str()));
  const ProcessResult plan = RunProcess({kBin, "plan", t, "--shards", "100000"}, Env(), 60);
  ASSERT_EQ(ExitCode(plan), 0) << plan.err;
  EXPECT_NE(plan.out.find(": 1000000000 sessions in 100000 shards;"), std::string::npos)
      << plan.out.substr(0, 300);
  EXPECT_NE(plan.out.find("\n  99999     10000  " + std::string(SCENARIOS_DIR) +
                          "/default.toml seed 100 L999  " + SCENARIOS_DIR +
                          "/default.toml seed 1000000 L999\n"),
            std::string::npos)
      << plan.out.substr(plan.out.size() - 300);
  const std::string db = dir + "/s7.db";
  for (int pass = 0; pass < 2; ++pass) {  // the second finds every session stored
    const ProcessResult run = RunProcess(
        {kBin, "run", t, "--shard", "7/100000", "--db", db, "--jobs", "2", "--format", "csv"},
        Env(), 300);
    ASSERT_EQ(ExitCode(run), 0) << run.err;
  }
  Store store(db, false);
  Statement q = store.db().Prepare(
      "SELECT count(*), count(DISTINCT seed), min(seed), max(seed), sum(seed % 100 != 1), "
      "min(lineup), max(lineup), (SELECT sessions_planned FROM tournament) FROM session");
  ASSERT_TRUE(q.Step());
  EXPECT_EQ(q.Int(0), 10000);
  EXPECT_EQ(q.Int(1), 10000);
  EXPECT_EQ(q.Int(2), 1);
  EXPECT_EQ(q.Int(3), 999901);
  EXPECT_EQ(q.Int(4), 0);
  EXPECT_EQ(q.Text(5), "L7");
  EXPECT_EQ(q.Text(6), "L7");
  EXPECT_EQ(q.Int(7), 1000000000);
}

// Shards run by the program, merged in two steps: exit 4 and a note while a shard is missing,
// then the leaderboard of the run in one piece.
TEST(TournamentRun, ShardsMergeIntoTheLeaderboardOfTheWholeRun) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/t.toml", WithScenarios(kVirtual));
  const std::string t = dir + "/t.toml";
  const ProcessResult plan = RunProcess({kBin, "plan", t, "--shards", "3"}, Env(), 30);
  ASSERT_EQ(ExitCode(plan), 0) << plan.err;
  EXPECT_NE(plan.out.find("300 sessions in 3 shards"), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("\n      2       100  "), std::string::npos) << plan.out;
  const ProcessResult whole =
      RunProcess({kBin, "run", t, "--db", dir + "/whole.db", "--format", "csv"}, Env(), 120);
  ASSERT_EQ(ExitCode(whole), 0) << whole.err;
  for (const char* k : {"0", "1", "2"}) {
    const ProcessResult shard = RunProcess({kBin, "run", t, "--shard", std::string(k) + "/3",
                                            "--db", dir + "/s" + k + ".db", "--jobs", "2"},
                                           Env(), 120);
    ASSERT_EQ(ExitCode(shard), 0) << shard.err;
  }
  const std::string all = dir + "/all.db";
  const ProcessResult part =
      RunProcess({kBin, "merge", "--into", all, dir + "/s0.db", dir + "/s2.db"}, Env(), 60);
  EXPECT_EQ(ExitCode(part), 4) << part.err;
  EXPECT_EQ(part.err, "tournament: missing shard 1\n");
  const ProcessResult note = RunProcess({kBin, "show", "--db", all}, Env(), 30);
  EXPECT_NE(note.out.find("\n(incomplete: 200 of 300 sessions; holds shards 0 2 of 3, missing "
                          "1)\n"),
            std::string::npos)
      << note.out;
  const ProcessResult rest =
      RunProcess({kBin, "merge", "--into", all, dir + "/s1.db", dir + "/s1.db"}, Env(), 60);
  EXPECT_EQ(ExitCode(rest), 0) << rest.err;
  EXPECT_EQ(rest.err, "tournament: shard 1 given more than once (" + dir + "/s1.db)\n");
  EXPECT_NE(rest.out.find("100 of 100 sessions, 0 added"), std::string::npos) << rest.out;
  const ProcessResult merged =
      RunProcess({kBin, "show", "--db", all, "--format", "csv"}, Env(), 30);
  EXPECT_EQ(merged.out, whole.out);
  EXPECT_EQ(merged.err, "");
  // A leaderboard that cannot be written is output lost, not done.
  const ProcessResult lost = RunProcess(
      {"/bin/sh", "-c", "exec \"$0\" show --db \"$1\" >/dev/full", kBin, all}, Env(), 30);
  EXPECT_EQ(ExitCode(lost), 3) << lost.err;
  EXPECT_EQ(lost.err, "tournament: cannot write to standard output\n");
  // The merge holds what the whole run does, row for row, and records its shards; merged in
  // another order, in one go, it is the same file.
  EXPECT_TRUE(SameDump(all, dir + "/whole.db", {"shard"}));
  const ProcessResult again = RunProcess(
      {kBin, "merge", "--into", dir + "/again.db", dir + "/s2.db", dir + "/s1.db", dir + "/s0.db"},
      Env(), 60);
  ASSERT_EQ(ExitCode(again), 0) << again.err;
  EXPECT_TRUE(SameDump(dir + "/again.db", all));
}

}  // namespace
}  // namespace tournament

namespace tournament {
namespace {

// The agent and an external agent command through marketd, beside two built-in strategies: both
// are admitted (the market waits for them, however loaded the machine) and the session completes.
const char* kMixed = R"(
scenarios = ["%SCENARIOS%/default.toml"]
seeds = [3]
tick_ms = 5
deadline_ms = 120000
admission_ms = 60000

[[lineups]]
name = "mixed"
  [[lineups.entries]]
  agent = "buyer"
  [[lineups.entries]]
  name = "Vera"
  strategy = "value"
  [[lineups.entries]]
  name = "Cleo"
  strategy = "cautious"
  [[lineups.entries]]
  command = "exec market_peer --connect \"$MARKET_ADDRESS\" --login Pia --password pia-pw --bid-at-or-below 1900 --timeout 100"
  login = "Pia"
  password = "pia-pw"
)";

TEST(TournamentRun, AgentAndExternalCommandTradeThroughMarketd) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/t.toml", WithScenarios(kMixed));
  const ProcessResult run =
      RunProcess({kBin, "run", dir + "/t.toml", "--db", dir + "/t.db"}, Env(), 180);
  ASSERT_EQ(ExitCode(run), 0) << run.err;
  Store store(dir + "/t.db", false);
  Statement session = store.db().Prepare("SELECT outcome, virtual_time FROM session");
  ASSERT_TRUE(session.Step());
  EXPECT_EQ(session.Text(0), "completed");
  EXPECT_EQ(session.Int(1), 0);
  Statement q = store.db().Prepare(
      "SELECT name, status, logged_in, exit_code, strategy FROM participant ORDER BY position");
  const std::vector<std::string> names = {"CLogin", "Vera", "Cleo", "Pia"};
  for (const std::string& name : names) {
    ASSERT_TRUE(q.Step());
    EXPECT_EQ(q.Text(0), name);
    if (name == "CLogin" || name == "Pia") {
      EXPECT_EQ(q.Text(1), "ok") << name;
      EXPECT_EQ(q.Int(2), 1) << name;
      EXPECT_EQ(q.Int(3), 0) << name;
    }
  }
  // The password is never shown, not in the database nor in the leaderboard.
  EXPECT_EQ(run.out.find("pia-pw"), std::string::npos);
  Statement secret =
      store.db().Prepare("SELECT count(*) FROM participant WHERE strategy LIKE '%pia-pw%'");
  secret.Step();
  EXPECT_EQ(secret.Int(0), 0);
  EXPECT_NE(run.out.find("Pia"), std::string::npos);
}

}  // namespace
}  // namespace tournament

namespace tournament {
namespace {

// The buyer and the Python example agent on the stepped clock, with a tick long enough that an
// agent keeping the rules always answers before its deadline, even on a loaded machine: every
// tick ends by their answers (so the long tick costs nothing).
const char* kStepped = R"(
scenarios = ["%SCENARIOS%/default.toml"]
seeds = { base = 1, count = 3 }
tick_ms = 1000
clock = "stepped"
deadline_ms = 120000

[[lineups]]
name = "stepped"
  [[lineups.entries]]
  agent = "buyer"
  [[lineups.entries]]
  command = "MARKET_LOGIN=Shade MARKET_PASSWORD=shade-pw exec python3 %SCENARIOS%/../agents/python/shading_bidder.py"
  login = "Shade"
  password = "shade-pw"
  [[lineups.entries]]
  name = "Vera"
  strategy = "value"
  valuation = [70, 105]
  [[lineups.entries]]
  name = "Rash"
  strategy = "careless"
  valuation = [120, 150]
)";

// Every stored figure but the measured ones: start, length, response times, when each bid
// arrived and so the order of bids within a tick.
std::string DumpDecided(const std::string& db_path) {
  Store store(db_path, false);
  const char* queries[] = {
      "SELECT scenario, seed, lineup, clock, virtual_time, outcome, detail, revenue, goods_total, "
      "goods_sold, efficiency, top_value_share, price_over_top FROM session ORDER BY 1, 2, 3",
      "SELECT s.seed, p.position, p.name, p.kind, p.strategy, p.purchases, p.spend, p.benefit, "
      "p.fines, p.surplus, p.sanctions, p.expulsions, p.logged_in, p.bids, p.faults, "
      "p.left_market, p.dropped, p.response_count, p.status, p.exit_code, p.exit_signal FROM "
      "participant p JOIN session s ON s.id = p.session ORDER BY 1, 2",
      "SELECT s.seed, g.position, g.auction, g.id, g.kind, g.seller, g.round, g.initial, g.resale, "
      "g.reserve, g.outcome, g.buyer, g.price, g.collisions, g.sanctions, g.buyer_values FROM "
      "good g JOIN session s ON s.id = g.session ORDER BY 1, 2",
      // Bids of one tick by different agents reach the market in either order: within a tick
      // the order of arrival is measured, like a time, and decides nothing.
      "SELECT s.seed, b.auction, b.good, b.price, b.buyer FROM bid b JOIN session s "
      "ON s.id = b.session ORDER BY 1, 2, 3, 4 DESC, 5",
  };
  std::string out;
  for (const char* sql : queries) {
    Statement q = store.db().Prepare(sql);
    while (q.Step()) {
      for (int c = 0; c < q.Columns(); ++c) out += (q.IsNull(c) ? "NULL" : q.Text(c)) + "|";
      out += '\n';
    }
  }
  return out;
}

// The same stepped tournament twice, one session at a time and two at once: the same database,
// but for the measured times.
TEST(TournamentRun, SteppedRunsOfRealAgentProgramsAreDecidedTheSameEveryTime) {
  const std::string dir = test_support::MakeTempDir();
  std::string text = WithScenarios(kStepped);
  text = WithScenarios(text);  // the agent's path names the folder too
  test_support::WriteFile(dir + "/t.toml", text);
  std::string dumps[2];
  for (int jobs = 1; jobs <= 2; ++jobs) {
    const std::string db = dir + "/run" + std::to_string(jobs) + ".db";
    const ProcessResult run = RunProcess(
        {kBin, "run", dir + "/t.toml", "--db", db, "--jobs", std::to_string(jobs)}, Env(), 300);
    ASSERT_EQ(ExitCode(run), 0) << run.err;
    dumps[jobs - 1] = DumpDecided(db);
  }
  EXPECT_EQ(dumps[0], dumps[1]);
  // Three sessions, all stepped, each with both agents in and some bids to compare.
  Store store(dir + "/run1.db", false);
  Statement q = store.db().Prepare(
      "SELECT count(*), sum(clock = 'stepped'), sum(outcome = 'completed') FROM session");
  ASSERT_TRUE(q.Step());
  EXPECT_EQ(q.Int(0), 3);
  EXPECT_EQ(q.Int(1), 3);
  EXPECT_EQ(q.Int(2), 3);
  Statement agents = store.db().Prepare(
      "SELECT count(*) FROM participant WHERE name IN ('CLogin', 'Shade') AND logged_in = 1 AND "
      "status = 'ok'");
  ASSERT_TRUE(agents.Step());
  EXPECT_EQ(agents.Int(0), 6);
  EXPECT_GT(std::count(dumps[0].begin(), dumps[0].end(), '\n'), 3 + 12 + 60);
}

// A version-3 file (testdata/v3.db, written by that version's runner, its sessions numbered in
// the order they were written) and a version-4 file of the same tournament (testdata/v4.db, its
// goods and entries packed as JSON text) are refused by run and show with the command that
// converts them; converted, each shows the leaderboard those versions showed, and is the file this
// version writes running the same tournament.
TEST(TournamentUpgrade, EarlierVersionsAreRefusedThenConvertedToWhatARunWrites) {
  for (const int version : {3, 4}) {
    SCOPED_TRACE(version);
    const std::string name = "v" + std::to_string(version) + ".db";
    const std::string dir = test_support::MakeTempDir();
    for (const std::string& file : {name, std::string("v3.toml"), std::string("scenario.toml")}) {
      std::filesystem::copy_file(std::string(TESTDATA_DIR) + "/" + file, dir + "/" + file);
    }
    const std::string db = dir + "/" + name;
    const std::string refusal = "tournament: " + db + " holds schema version " +
                                std::to_string(version) +
                                "; convert it with: tournament upgrade --db " + db + "\n";
    const ProcessResult show = RunProcess({kBin, "show", "--db", db}, Env(), 30);
    EXPECT_EQ(ExitCode(show), 1);
    EXPECT_EQ(show.err, refusal);
    const ProcessResult run = RunProcess({kBin, "run", dir + "/v3.toml", "--db", db}, Env(), 30);
    EXPECT_EQ(ExitCode(run), 1);
    EXPECT_EQ(run.err, refusal);

    // The tournament was run from its folder: its file and scenario are found there.
    auto in_dir = [&](const std::string& command) {
      return RunProcess({"/bin/sh", "-c", "cd '" + dir + "' && exec '" + kBin + "' " + command},
                        Env(), 60);
    };
    const ProcessResult upgrade = in_dir("upgrade --db " + name);
    ASSERT_EQ(ExitCode(upgrade), 0) << upgrade.err;
    EXPECT_EQ(upgrade.out,
              name + ": version " + std::to_string(version) + " to 5, 1 tournament, 6 sessions\n");
    const ProcessResult again = in_dir("upgrade --db " + name);
    EXPECT_EQ(ExitCode(again), 0) << again.err;
    EXPECT_EQ(again.out, name + " holds schema version 5 already\n");

    const ProcessResult board =
        RunProcess({kBin, "show", "--db", db, "--format", "csv"}, Env(), 30);
    EXPECT_EQ(board.out, test_support::ReadFile(std::string(TESTDATA_DIR) + "/v3_show.csv"));
    const ProcessResult markets =
        RunProcess({kBin, "show", "--db", db, "--format", "csv", "--markets"}, Env(), 30);
    EXPECT_EQ(markets.out, test_support::ReadFile(std::string(TESTDATA_DIR) + "/v3_markets.csv"));

    const ProcessResult fresh = in_dir("run v3.toml --db fresh.db --jobs 2");
    ASSERT_EQ(ExitCode(fresh), 0) << fresh.err;
    EXPECT_TRUE(SameDump(db, dir + "/fresh.db"));
    const ProcessResult resumed = in_dir("run v3.toml --db " + name);
    EXPECT_EQ(ExitCode(resumed), 0) << resumed.err;
    EXPECT_EQ(Sessions(db), 6);
  }
}

// A file the upgrade cannot number (its tournament file gone) is left as it was.
TEST(TournamentUpgrade, WithoutItsTournamentFileTheFileIsLeftAsItWas) {
  const std::string dir = test_support::MakeTempDir();
  std::filesystem::copy_file(std::string(TESTDATA_DIR) + "/v3.db", dir + "/v3.db");
  const std::string before = test_support::ReadFile(dir + "/v3.db");
  const ProcessResult upgrade = RunProcess({kBin, "upgrade", "--db", dir + "/v3.db"}, Env(), 30);
  EXPECT_EQ(ExitCode(upgrade), 1);
  EXPECT_NE(upgrade.err.find("give its file with --file"), std::string::npos) << upgrade.err;
  EXPECT_EQ(std::count(upgrade.err.begin(), upgrade.err.end(), '\n'), 1) << upgrade.err;
  EXPECT_EQ(test_support::ReadFile(dir + "/v3.db"), before);
  const ProcessResult show = RunProcess({kBin, "show", "--db", dir + "/v3.db"}, Env(), 30);
  EXPECT_NE(show.err.find("holds schema version 3"), std::string::npos) << show.err;
}

}  // namespace
}  // namespace tournament
