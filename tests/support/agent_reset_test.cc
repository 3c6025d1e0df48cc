#include "tests/support/agent_reset.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "buyer/link/commands.h"
#include "buyer/link/io.h"
#include "buyer/link/log.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"

namespace test_support {
namespace {

// The tables as the process started, taken before any test runs (world is constant-initialized).
const World kAtStart = world;

ssize_t FailWrite(void*, const char*, size_t) { return -1; }
void DiscardLog(const char*, size_t) {}

ssize_t ReadText(void* context, char* buffer, size_t size) {
  auto* text = static_cast<std::string*>(context);
  const size_t n = std::min(size, text->size());
  std::memcpy(buffer, text->data(), n);
  text->erase(0, n);
  return static_cast<ssize_t>(n);
}

TEST(ResetAgentForTest, TablesReaderAndCommandsAsAtProcessStart) {
  ResetAgentForTest(DiscardLog);
  std::memset(static_cast<void*>(&world), 0x5a, sizeof world);
  std::string text = "partial wor";
  Input input{ReadText, &text};
  GetWord(input);
  GetWord(input);  // end of input reached
  Output broken{FailWrite, nullptr};
  Bid(broken);
  ASSERT_TRUE(InputEnded());
  ASSERT_TRUE(GatewayGone());

  ResetAgentForTest(DiscardLog);
  EXPECT_EQ(std::memcmp(static_cast<const void*>(&world), static_cast<const void*>(&kAtStart),
                        sizeof world),
            0);
  EXPECT_FALSE(InputEnded());
  EXPECT_FALSE(InputRanOut());
  EXPECT_FALSE(GatewayGone());
  text = "next";
  EXPECT_STREQ(GetWord(input), "next");
  ResetAgentForTest();
}

// Reads what arrived on fd within a short wait.
std::string Available(int fd) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 200) > 0) {
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

TEST(ResetAgentForTest, AsksAgainWhetherStandardOutputIsATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const int saved_stdout = dup(STDOUT_FILENO);

  // Into a pipe the log is not flushed before a read, and the answer is remembered.
  dup2(pipe_fds[1], STDOUT_FILENO);
  ResetAgentForTest();
  LogText("to-pipe");
  LogFlushIfInteractive();
  EXPECT_EQ(Available(pipe_fds[0]), "");
  ResetAgentForTest();  // flushes into the pipe, then forgets the answer
  EXPECT_EQ(Available(pipe_fds[0]), "to-pipe");

  // Standard output is now a terminal: the log is flushed before a read.
  dup2(terminal, STDOUT_FILENO);
  LogText("to-terminal");
  LogFlushIfInteractive();
  const std::string seen = Available(master);

  dup2(saved_stdout, STDOUT_FILENO);
  ResetAgentForTest();
  for (int fd : {saved_stdout, pipe_fds[0], pipe_fds[1], terminal, master}) close(fd);
  EXPECT_EQ(seen, "to-terminal");
}

}  // namespace
}  // namespace test_support
