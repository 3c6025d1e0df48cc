#include "buyer/link/commands.h"

#include <gtest/gtest.h>

#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;
using test_support::MemorySink;

using CommandsTest = AgentTest;

TEST_F(CommandsTest, EachCommandIsLoggedThenWrittenInOneCall) {
  const struct {
    void (*send)(Output&);
    const char* bytes;
  } cases[] = {
      {Go_Into_Auction_Room, "admission CLogin TGatekeep\n"},
      {Bid, "bid\n"},
      {Exit_from_the_Market, "exit\n"},
  };
  for (const auto& c : cases) {
    sent_ = MemorySink{};
    c.send(output_);
    EXPECT_EQ(sent_.data, c.bytes);
    EXPECT_EQ(sent_.writes, 1);
    EXPECT_EQ(Log(), std::string("\n") + c.bytes + "\n");
  }
  EXPECT_FALSE(GatewayGone());
}

TEST_F(CommandsTest, FailedWriteMeansGatewayGone) {
  sent_.broken = true;
  Bid(output_);
  EXPECT_TRUE(GatewayGone());
  EXPECT_EQ(Log(), "\nbid\n\n");  // the attempt is still in the log
}

}  // namespace
