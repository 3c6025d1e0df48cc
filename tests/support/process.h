// Runs a program to completion for a test: output captured, a deadline enforced.
#ifndef TESTS_SUPPORT_PROCESS_H_
#define TESTS_SUPPORT_PROCESS_H_

#include <string>
#include <vector>

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
