// Puts the agent's process-wide state back as it is at process start, so that one process can
// run the agent's code many times (unit tests, fuzzing, micro-benchmarks). Needs no test
// framework.
#ifndef TESTS_SUPPORT_AGENT_RESET_H_
#define TESTS_SUPPORT_AGENT_RESET_H_

#include "buyer/link/log.h"

namespace test_support {

// Zeroes the tables and agent state (go_on 1), forgets all reader state and any failed command
// write, and returns the log to its start: bytes still buffered go to the sink in force, then
// `sink` is installed (nullptr: standard output) and whether standard output is a terminal is
// asked again at the next blocking read. Leaves the tables as at process start: call InitWorld
// for the state after start-up.
void ResetAgentForTest(LogSink sink = nullptr);

}  // namespace test_support

#endif  // TESTS_SUPPORT_AGENT_RESET_H_
