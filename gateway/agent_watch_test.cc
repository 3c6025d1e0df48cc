// The agent watch on real processes: each is brought to the state a case needs (waiting for
// input, spinning, in a timed sleep, stopped) and the watch's answer checked there. The waits
// only wait for a process to reach its state; no answer depends on how fast it gets there.

#include "gateway/agent_watch.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tests/support/process.h"

namespace gateway {
namespace {

using test_support::Child;
using test_support::Spawn;
using test_support::SpawnOptions;
using test_support::Stream;

// Keeps asking until `done` or 20 s have passed (a loaded machine, never an answer).
bool Eventually(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// The state letter and the kernel function a process's main thread waits in.
std::string StateOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t paren = text.rfind(')');
  return paren == std::string::npos || paren + 2 >= text.size() ? "" : text.substr(paren + 2, 1);
}
std::string WchanOf(pid_t pid) {
  std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
  std::string text;
  std::getline(wchan, text);
  return text;
}

struct Started {
  Child child;
  explicit Started(std::vector<std::string> argv) {
    SpawnOptions options;
    options.argv = std::move(argv);
    options.in = Stream::kPipe;
    options.out = Stream::kPipe;
    options.err = Stream::kNull;
    child = Spawn(options);
  }
  ~Started() {
    if (child.pid > 0) kill(child.pid, SIGKILL);
    test_support::Wait(child);
  }
};

bool LooksAsleep(pid_t root, pid_t self = 0) {
  ThreadLook look;
  return look.Take(root, self);
}

TEST(ThreadLook, AsleepOnlyWhenEveryThreadWaitsWithoutATimeout) {
  struct Case {
    const char* name;
    std::vector<std::string> argv;
    bool asleep;
  };
  const std::vector<Case> cases = {
      {"waiting to read", {"/bin/cat"}, true},
      {"in a timed sleep", {"/bin/sleep", "60"}, false},
      {"reading with a timeout", {"/bin/bash", "-c", "read -t 60 x"}, false},
      {"waiting for a helper in a timed sleep", {"/bin/sh", "-c", "/bin/sleep 60; :"}, false},
      {"waiting for a helper that waits to read", {"/bin/sh", "-c", "/bin/cat; :"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Started started(c.argv);
    ASSERT_GT(started.child.pid, 0);
    const pid_t pid = started.child.pid;
    // Every process of the tree settled: the root and (for the shells) its child asleep.
    ASSERT_TRUE(Eventually([&] {
      std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                             "/children");
      pid_t child = 0;
      const bool shell = c.argv[0] == "/bin/sh";
      if (shell && !(children >> child)) return false;
      return StateOf(pid) == "S" && (!shell || StateOf(child) == "S") &&
             (c.asleep || !WchanOf(shell ? child : pid).empty());
    }));
    // Asked many times: a look that is wrong now and then would show here.
    for (int i = 0; i < 50; ++i) ASSERT_EQ(LooksAsleep(pid), c.asleep) << "look " << i;
  }
}

TEST(ThreadLook, ARunningOrStoppedProcessIsBusyAndTheWatcherIsLeftOut) {
  Started spinner({"/bin/sh", "-c", "while :; do :; done"});
  ASSERT_GT(spinner.child.pid, 0);
  for (int i = 0; i < 50; ++i) ASSERT_FALSE(LooksAsleep(spinner.child.pid)) << "look " << i;

  Started stopped({"/bin/cat"});
  ASSERT_GT(stopped.child.pid, 0);
  ASSERT_TRUE(Eventually([&] { return LooksAsleep(stopped.child.pid); }));
  kill(stopped.child.pid, SIGSTOP);
  ASSERT_TRUE(Eventually([&] { return StateOf(stopped.child.pid) == "T"; }));
  EXPECT_FALSE(LooksAsleep(stopped.child.pid));
  kill(stopped.child.pid, SIGCONT);

  // A shell waiting for a timed sleep: busy, unless that child is the watcher itself.
  Started shell({"/bin/sh", "-c", "/bin/sleep 60; :"});
  ASSERT_GT(shell.child.pid, 0);
  pid_t sleeper = 0;
  ASSERT_TRUE(Eventually([&] {
    std::ifstream children("/proc/" + std::to_string(shell.child.pid) + "/task/" +
                           std::to_string(shell.child.pid) + "/children");
    return static_cast<bool>(children >> sleeper) && StateOf(sleeper) == "S" &&
           StateOf(shell.child.pid) == "S";
  }));
  EXPECT_FALSE(LooksAsleep(shell.child.pid));
  EXPECT_TRUE(LooksAsleep(shell.child.pid, sleeper));
}

int Unread(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// `cat` as the agent: it echoes each line it reads. Idle only once it has read what was written
// and its echo has been taken.
TEST(AgentWatch, IdleNeedsBothPipesEmptyAndTheAgentAsleep) {
  Started cat({"/bin/cat"});
  ASSERT_GT(cat.child.pid, 0);
  std::string why;
  std::optional<AgentWatch> watch =
      AgentWatch::Open(cat.child.pid, cat.child.in, cat.child.out, &why);
  ASSERT_TRUE(watch.has_value()) << why;
  ASSERT_TRUE(Eventually([&] { return watch->Idle(); }));

  // Stopped, with a line it has not read: busy for both reasons, then for the line alone.
  kill(cat.child.pid, SIGSTOP);
  ASSERT_TRUE(Eventually([&] { return StateOf(cat.child.pid) == "T"; }));
  ASSERT_TRUE(test_support::WriteAll(cat.child.in, "bid\n"));
  EXPECT_EQ(Unread(cat.child.in), 4);
  EXPECT_FALSE(watch->Idle());
  kill(cat.child.pid, SIGCONT);
  // Its echo unread by the watcher: busy however long it sleeps.
  ASSERT_TRUE(Eventually([&] { return Unread(cat.child.out) == 4; }));
  ASSERT_TRUE(Eventually([&] { return StateOf(cat.child.pid) == "S"; }));
  for (int i = 0; i < 20; ++i) ASSERT_FALSE(watch->Idle());
  char buf[8];
  ASSERT_EQ(read(cat.child.out, buf, sizeof buf), 4);
  EXPECT_TRUE(Eventually([&] { return watch->Idle(); }));
}

TEST(AgentWatch, RefusesWhatItCannotWatch) {
  std::string why;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // Not pipes.
  const int null = open("/dev/null", O_RDWR);
  EXPECT_FALSE(AgentWatch::Open(getpid(), null, fds[0], &why));
  EXPECT_EQ(why, "the agent is not on pipes");
  close(null);
  // No such process.
  why.clear();
  EXPECT_FALSE(AgentWatch::Open(0x3ffffff0, fds[1], fds[0], &why));
  EXPECT_EQ(why, "the agent's threads cannot be read in /proc");
  // No ancestor of this test holds this pipe.
  why.clear();
  EXPECT_FALSE(AgentWatch::FindAgent(fds[0], &why));
  EXPECT_EQ(why, "no parent process holds the agent's pipe");
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace gateway
