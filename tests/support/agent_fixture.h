// Test fixture for the agent's code in one process: fresh tables and reader state, input from
// memory, commands and log captured in strings.
#ifndef TESTS_SUPPORT_AGENT_FIXTURE_H_
#define TESTS_SUPPORT_AGENT_FIXTURE_H_

#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "buyer/link/io.h"

namespace test_support {

// Bytes handed out by read calls of at most `chunk` bytes each; counts the calls.
struct MemorySource {
  std::string data;
  size_t position = 0;
  size_t chunk = 4096;
  int reads = 0;
  // Read calls before the source starts failing with -1 (negative: never).
  int fail_after = -1;
};

Input MemoryInput(MemorySource* source);

// Collects written bytes; fails every write once `broken` is set.
struct MemorySink {
  std::string data;
  int writes = 0;
  bool broken = false;
};

Output MemoryOutput(MemorySink* sink);

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Makes bytes the input, handed out in reads of at most chunk bytes.
  void Feed(const std::string& bytes, size_t chunk = 4096);
  // Everything logged so far (flushes the log first); Log() clears what it returns.
  std::string Log();

  MemorySource source_;
  MemorySink sent_;
  Input input_{};
  Output output_{};
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_AGENT_FIXTURE_H_
