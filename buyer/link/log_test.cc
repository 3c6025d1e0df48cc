#include "buyer/link/log.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/agent_fixture.h"

namespace {

TEST(FormatInt, MatchesPrintf) {
  for (int32_t value : {0, 1, -1, 9, 10, -10, 50000, 2000, 123456789, INT32_MAX, INT32_MIN}) {
    char text[12];
    size_t length = FormatInt(value, text);
    EXPECT_EQ(std::string(text, length), std::to_string(value));
  }
}

using LogTest = AgentTest;

TEST_F(LogTest, KeepsOrderAcrossBufferSizes) {
  std::string expected;
  for (size_t size : {size_t{10}, size_t{70000}, size_t{3}, size_t{65536}, size_t{65535}}) {
    std::string piece(size, static_cast<char>('a' + size % 26));
    LogWrite(piece.data(), piece.size());
    LogInt(-42);
    expected += piece + "-42";
  }
  EXPECT_EQ(Log(), expected);
}

}  // namespace
