// Starting programs for tests and benchmarks: one child with its standard streams on pipes,
// /dev/null, files or the caller's own; its output read with a deadline; its end waited for with
// a deadline. Needs no test framework. Nothing here changes the caller's signal dispositions: a
// write to a child that has stopped reading fails with EPIPE instead of raising SIGPIPE.
#ifndef TESTS_SUPPORT_PROCESS_H_
#define TESTS_SUPPORT_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// Where one of the child's standard streams is joined.
enum class Stream {
  kNull,     // /dev/null
  kPipe,     // a pipe whose other end the caller holds
  kFile,     // a file, created or truncated
  kInherit,  // the caller's own
};

struct SpawnOptions {
  // argv[0] is the path executed, unless `search` is set.
  std::vector<std::string> argv;
  // When set, the program of this name is looked up on PATH and argv[0] is passed as given.
  std::string search;
  // Exactly these "NAME=value" entries; unset: the caller's environment.
  std::optional<std::vector<std::string>> env;
  Stream in = Stream::kNull;
  Stream out = Stream::kPipe;
  Stream err = Stream::kPipe;
  std::string out_path;  // with out = kFile
  std::string err_path;  // with err = kFile
};

// Exit status of a child that could not be started; its standard error then holds one line
// "PROGRAM: cannot execute: REASON".
constexpr int kCannotExecute = 127;

// A started child. The pipe ends are the caller's (close-on-exec), -1 when not piped.
struct Child {
  pid_t pid = -1;
  int in = -1;   // write end of its standard input
  int out = -1;  // read end of its standard output
  int err = -1;  // read end of its standard error
};

// Starts the child with SIGPIPE at its default action and no signal blocked, as from a shell.
// pid -1 when no process could be made; a program that cannot be executed shows as a child
// that exits kCannotExecute.
Child Spawn(const SpawnOptions& options);

// Closes *fd if open and sets it to -1.
void CloseFd(int* fd);

// Writes all of data to fd, retrying short writes and EINTR. False when the reader has gone
// (EPIPE, with no SIGPIPE raised in the caller) or on another error.
bool WriteAll(int fd, const std::string& data);

using Deadline = std::chrono::steady_clock::time_point;
// The steady clock's now plus seconds.
Deadline After(double seconds);

struct DrainHooks {
  // Called with each block read from standard output, and once with an empty block when it
  // ends. Returning false closes the pipe (the test stops reading).
  std::function<bool(const char* data, size_t size)> on_out;
  // Pause before every read of standard output: a slow reader.
  int out_pause_ms = 0;
};

// Reads the child's piped standard output into *out and standard error into *err (either may be
// null: its bytes are dropped) until both have ended, closing them. When the deadline passes
// first, kills the child with SIGKILL and returns false.
bool Drain(Child& child, std::string* out, std::string* err, Deadline deadline,
           const DrainHooks& hooks = {});

// Waits for the child and closes its pipe ends; returns its wait status. A child still running
// at the deadline is killed with SIGKILL and reaped, and *timed_out (if given) is set. Returns
// -1 when there is no child to wait for.
int Wait(Child& child, std::optional<Deadline> deadline = std::nullopt, bool* timed_out = nullptr);

// The exit status of a wait status, or -1 when the process did not exit normally.
int ExitCodeOf(int wait_status);
// The terminating signal of a wait status, or 0.
int TermSignalOf(int wait_status);

}  // namespace test_support

// Runs a program to completion for a test: output captured, a deadline enforced.
struct ProcessResult {
  std::string out;
  std::string err;
  int status = -1;         // wait status
  bool timed_out = false;  // killed at the deadline
  double seconds = 0;      // wall time until it ended
};

// Runs argv[0] (a path) with exactly the environment env ("NAME=value" entries), standard input
// from /dev/null. A process still running after timeout_seconds is killed with SIGKILL.
// With reader_pause_ms > 0, standard output is read slowly: a pause before every read.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double timeout_seconds, int reader_pause_ms = 0);

// The exit status, or -1 when the process did not exit normally.
int ExitCode(const ProcessResult& result);
// The terminating signal, or 0.
int TermSignal(const ProcessResult& result);

#endif  // TESTS_SUPPORT_PROCESS_H_
