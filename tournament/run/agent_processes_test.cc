// What the runner leaves of an agent's processes: nothing, even when it is killed with SIGKILL
// in the middle of a session; and what it keeps of an agent's standard error: no part of its
// password.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tournament/db/store.h"

namespace tournament {
namespace {

const std::string kBin = TOURNAMENT_BIN;

std::vector<std::string> Env() {
  std::vector<std::string> env;
  for (char** e = ::environ; *e != nullptr; ++e) env.emplace_back(*e);
  return env;
}

// One session on the real clock with one agent command and a built-in bidder.
std::string Tournament(const std::string& command, const std::string& password,
                       int64_t admission_ms) {
  return "scenarios = [\"" SCENARIOS_DIR
         "/default.toml\"]\nseeds = [1]\ntick_ms = 5\n"
         "deadline_ms = 600000\nadmission_ms = " +
         std::to_string(admission_ms) +
         "\n[[lineups]]\nname = \"one\"\n"
         "  [[lineups.entries]]\n  name = \"Vera\"\n  strategy = \"value\"\n"
         "  [[lineups.entries]]\n  command = '''" +
         command + "'''\n  login = \"Agent\"\n  password = \"" + password + "\"\n";
}

pid_t PidIn(const std::string& file) {
  const std::string text = test_support::ReadFile(file);
  return text.empty() || text.back() != '\n' ? 0 : static_cast<pid_t>(std::stol(text));
}

// Whether the process runs (a zombie has ended: only its parent has not reaped it yet).
bool Running(pid_t pid) {
  const std::string stat = test_support::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// The agent's processes, each recorded in a file once started: a shell that forks its command
// (a command without exec) and a helper that leaves the session and process group (setsid).
// The runner is killed with SIGKILL while all run, long before the session could end: none of
// them is left.
TEST(AgentProcesses, NoneOutlivesTheRunnerKilledMidSession) {
  struct Shape {
    const char* name;
    const char* command;
    std::vector<const char*> pid_files;
  };
  const Shape shapes[] = {
      {"forking shell",
       "echo $$ > sh.pid; sleep 600 & echo $! > child.pid; wait",
       {"sh.pid", "child.pid"}},
      {"setsid helper",
       "setsid sh -c 'echo $$ > helper.pid; exec sleep 600' & echo $$ > sh.pid; exec sleep 600",
       {"sh.pid", "helper.pid"}},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const std::string dir = test_support::MakeTempDir();
    test_support::WriteFile(dir + "/t.toml", Tournament(shape.command, "pw", 60'000));
    test_support::SpawnOptions options;
    options.argv = {kBin, "run", dir + "/t.toml", "--db", dir + "/t.db"};
    options.out = test_support::Stream::kNull;
    options.err = test_support::Stream::kNull;
    test_support::Child runner = test_support::Spawn(options);
    ASSERT_GT(runner.pid, 0);
    std::vector<pid_t> pids;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
      pids.clear();
      for (const char* file : shape.pid_files) {
        if (const pid_t pid = PidIn(dir + "/" + file); pid > 0 && Running(pid)) pids.push_back(pid);
      }
      if (pids.size() == shape.pid_files.size()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(pids.size(), shape.pid_files.size());
    // The session is still in progress: the runner has not ended.
    int status = 0;
    ASSERT_EQ(waitpid(runner.pid, &status, WNOHANG), 0);
    kill(runner.pid, SIGKILL);
    test_support::Wait(runner);
    for (const pid_t pid : pids) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (Running(pid) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      EXPECT_FALSE(Running(pid)) << pid;
      if (Running(pid)) kill(pid, SIGKILL);
    }
  }
}

// The agent writes its password to standard error where the 2 KiB kept cut it: stored masked.
TEST(AgentProcesses, NoPartOfThePasswordIsKeptOfStandardError) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(
      dir + "/t.toml",
      Tournament("printf Zq9SecretPw >&2; head -c 2040 /dev/zero | tr '\\0' x >&2; exit 1",
                 "Zq9SecretPw", 200));
  const ProcessResult run =
      RunProcess({kBin, "run", dir + "/t.toml", "--db", dir + "/t.db"}, Env(), 120);
  ASSERT_EQ(ExitCode(run), 0) << run.err;
  Store store(dir + "/t.db", Access::kRead);
  Statement q = store.db().Prepare("SELECT stderr_tail FROM participant WHERE name = 'Agent'");
  ASSERT_TRUE(q.Step());
  const std::string tail = q.Text(0);
  EXPECT_TRUE(tail == "***" + std::string(2040, 'x')) << tail.substr(0, 16) << "...";
}

}  // namespace
}  // namespace tournament
