#include "tests/support/process.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace {

using test_support::Conversation;
using test_support::Converse;

constexpr double kTimeout = 30;

// A mask field of /proc/PID/status ("SigIgn", "SigBlk") as printed by a child.
unsigned long long MaskField(const std::string& status, const std::string& name) {
  const size_t at = status.find(name + ":\t");
  if (at == std::string::npos) return ~0ull;
  return std::strtoull(status.c_str() + at + name.size() + 2, nullptr, 16);
}

TEST(RunProcess, OutcomesOfAProgram) {
  const struct {
    const char* name;
    std::vector<std::string> argv;
    double timeout;
    int exit_code;
    int signal;
    bool timed_out;
    std::string out;
    std::string err;
  } cases[] = {
      {"both streams captured",
       {"/bin/sh", "-c", "printf out; printf err >&2; exit 3"},
       kTimeout,
       3,
       0,
       false,
       "out",
       "err"},
      {"killed at the deadline", {"/bin/sleep", "30"}, 0.2, -1, SIGKILL, true, "", ""},
      {"missing program",
       {"/nonexistent/prog"},
       kTimeout,
       test_support::kCannotExecute,
       0,
       false,
       "",
       "/nonexistent/prog: cannot execute: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult r = RunProcess(c.argv, {}, c.timeout);
    EXPECT_EQ(ExitCode(r), c.exit_code);
    EXPECT_EQ(TermSignal(r), c.signal);
    EXPECT_EQ(r.timed_out, c.timed_out);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(RunProcess, ChildStartsWithSigpipeDefaultAndUnblockedWhateverTheCaller) {
  struct sigaction old_action {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old_action);
  sigset_t pipe_only;
  sigset_t old_mask;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  const ProcessResult r = RunProcess({"/bin/cat", "/proc/self/status"}, {}, kTimeout);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGPIPE, &old_action, nullptr);
  const unsigned long long pipe_bit = 1ull << (SIGPIPE - 1);
  EXPECT_EQ(MaskField(r.out, "SigIgn") & pipe_bit, 0u) << r.out;
  EXPECT_EQ(MaskField(r.out, "SigBlk"), 0u) << r.out;
}

TEST(WriteAll, ReaderGoneFailsWithoutSigpipeAndLeavesTheDispositionAlone) {
  test_support::SpawnOptions options;
  options.argv = {"/bin/true"};
  options.in = test_support::Stream::kPipe;
  test_support::Child child = test_support::Spawn(options);
  ASSERT_GT(child.pid, 0);
  const int in = child.in;
  child.in = -1;  // kept open across the wait, so that the write meets a pipe with no reader
  EXPECT_EQ(test_support::ExitCodeOf(test_support::Wait(child)), 0);
  // Default SIGPIPE kills this process if the write raises it.
  EXPECT_FALSE(test_support::WriteAll(in, std::string(100000, 'x')));
  close(in);
  struct sigaction now {};
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(Spawn, OutputIntoFilesAndWaitWithADeadline) {
  const std::string dir = test_support::MakeTempDir();
  test_support::SpawnOptions options;
  options.argv = {"/bin/sh", "-c", "echo to-out; echo to-err >&2"};
  options.env = std::vector<std::string>{};
  options.out = test_support::Stream::kFile;
  options.out_path = dir + "/out";
  options.err = test_support::Stream::kFile;
  options.err_path = dir + "/err";
  test_support::Child child = test_support::Spawn(options);
  bool timed_out = false;
  EXPECT_EQ(test_support::ExitCodeOf(
                test_support::Wait(child, test_support::After(kTimeout), &timed_out)),
            0);
  EXPECT_FALSE(timed_out);
  EXPECT_EQ(test_support::ReadFile(dir + "/out"), "to-out\n");
  EXPECT_EQ(test_support::ReadFile(dir + "/err"), "to-err\n");

  options.argv = {"/bin/sleep", "30"};
  child = test_support::Spawn(options);
  const int status = test_support::Wait(child, test_support::After(0.2), &timed_out);
  EXPECT_TRUE(timed_out);
  EXPECT_EQ(test_support::TermSignalOf(status), SIGKILL);
}

TEST(Converse, AnswersLinesAndClosesTheInputAsAsked) {
  Conversation answer;
  answer.respond = [](const std::string& line) {
    return line == "name?" ? std::string("Ann\n") : std::string();
  };
  auto r = Converse({"/bin/sh", "-c", "echo name?; read n; echo hello $n"}, {}, answer, kTimeout);
  EXPECT_EQ(r.out, "name?\nhello Ann\n");
  EXPECT_FALSE(r.timed_out);

  // cat ends only when its input does: at once, or (never, here) when its output ends.
  Conversation at_once;
  at_once.input = "abc\n";
  at_once.close_input_at_once = true;
  r = Converse({"/bin/cat"}, {}, at_once, kTimeout);
  EXPECT_EQ(r.out, "abc\n");
  EXPECT_EQ(test_support::ExitStatus(r), 0);
  at_once.close_input_at_once = false;
  r = Converse({"/bin/cat"}, {}, at_once, 0.3);
  EXPECT_TRUE(r.timed_out);
}

}  // namespace
