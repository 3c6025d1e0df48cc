// Runs a program with its standard input, output and error on pipes and talks to it line by
// line, with a deadline. Used by the gateway's tests and the end-to-end session tests. Leaves the
// caller's signal dispositions alone: a child that stops reading shows as a failed write.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H_
#define TESTS_SUPPORT_CHILD_PROCESS_H_

#include <functional>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace test_support {

struct Conversation {
  std::string input;  // written to the child's input at once
  // Called for each whole line of the child's output (without its newline); what it returns is
  // written to the child's input.
  std::function<std::string(const std::string& line)> respond;
  // When the test closes the child's input: right after `input`, or once the child's output ends.
  bool close_input_at_once = false;
  // Stop reading the child's output (close the pipe) after this many lines; -1: never.
  int stop_reading_after = -1;
};

struct ChildResult {
  std::string out;
  std::string err;
  int status = -1;         // wait status
  bool timed_out = false;  // killed at the deadline
};

// Runs argv[0] (a path) with exactly the environment env ("NAME=value"). A child still running
// after timeout_seconds is killed with SIGKILL.
ChildResult Converse(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const Conversation& conversation, double timeout_seconds);

// The exit status, or -1 when the child did not exit normally.
int ExitStatus(const ChildResult& result);

}  // namespace test_support

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H_
