#include "buyer/driver/agent.h"

#include <string>

#include <gtest/gtest.h>

#include "buyer/market/tables.h"
#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;

const char kAdmission[] = "admission CLogin TGatekeep\n";
const char kAdmissionLog[] = "\nadmission CLogin TGatekeep\n\n";

class RunAgentTest : public AgentTest {
 protected:
  LoopEnd Run(const std::string& stream) {
    InitWorld();
    Feed(stream);
    return RunAgent(input_, output_);
  }
};

TEST_F(RunAgentTest, PassRhythm) {
  // "accept" takes two passes (the tag, then the marker); the third pass meets end of input.
  EXPECT_EQ(Run("accept\n"), LoopEnd::kInputEnded);
  EXPECT_EQ(Log(), std::string(kAdmissionLog) + "\n\naccept \n\n\n\n");
  // Two messages on one line: one pass each, then the marker.
  SetUp();
  Run("end_round 1 end_round 2\n");
  EXPECT_EQ(Log(), std::string(kAdmissionLog) + "\n\nend_round 1 \n\nend_round 2 \n\n\n\n");
  // Whitespace before the newline: no marker, one pass.
  SetUp();
  Run("end_round 1 \n");
  EXPECT_EQ(Log(), std::string(kAdmissionLog) + "\n\nend_round 1 \n\n");
}

TEST_F(RunAgentTest, AnswersOffersByTheRule) {
  Run("open_auction 1\n"
      "goods g1 k s 3000 2600 g2 k s 900 800\n"
      "good g1 k s 3000 2600\n"  // the good's own price alone is never bid
      "offer g1 2500\noffer g1 2000\noffer g1 1999\n"
      "good g2 k s 900 800\n"
      "offer g2 800\noffer g2 799\n");
  EXPECT_EQ(sent_.data, std::string(kAdmission) + "bid\nbid\nbid\n");
  std::string log = Log();
  EXPECT_NE(log.find("offer g1 2000 \nbid\n\n"), std::string::npos);
  EXPECT_NE(log.find("offer g1 1999 \nbid\n\n"), std::string::npos);
  EXPECT_NE(log.find("offer g2 799 \nbid\n\n"), std::string::npos);
}

TEST_F(RunAgentTest, CollisionReopensThePrice) {
  Run("open_auction 1\ngoods g1 k s 1000 1800\ngood g1 k s 1000 1800\n"
      "offer g1 1500\ncollision g1 1600\nsold CLogin 1600\n");
  EXPECT_EQ(sent_.data, std::string(kAdmission) + "bid\nbid\n");
  EXPECT_EQ(world.my_credit[0], 50000 - 1600);
  EXPECT_EQ(world.my_expected_benefit[0], 200);
}

TEST_F(RunAgentTest, BidStandsThroughOutOfMarketUntilASale) {
  Run("open_auction 1\nbuyers CLogin\ngoods g1 k s 1000 1800 g2 k s 1000 900\n"
      "good g1 k s 1000 1800\noffer g1 1500\nout_of_market g1 1400\n"
      "good g2 k s 1000 900\nsold CLogin 700\n");
  EXPECT_EQ(sent_.data, std::string(kAdmission) + "bid\n");
  EXPECT_EQ(world.my_credit[0], 49300);
  EXPECT_EQ(world.my_expected_benefit[0], 200);
  EXPECT_EQ(world.Buyers[0][0].benefit_total, 200);
  EXPECT_EQ(world.Buyers[0][0].expenses, 700);
  EXPECT_EQ(world.Goods_to_be_sold[0][0].sale_price, -1);
}

TEST_F(RunAgentTest, MarketClosingDoesNotStopTheAgent) {
  EXPECT_EQ(Run("closed_market\nend_auction 1\naccept\n"), LoopEnd::kInputEnded);
  EXPECT_NE(Log().find("accept "), std::string::npos);
}

TEST_F(RunAgentTest, AuctionIndexPastTheTablesEndsTheLoop) {
  EXPECT_EQ(Run("open_auction 22\noffer g 5\nend_auction 22\nnever_read\n"),
            LoopEnd::kAuctionIndexPast);
  std::string log = Log();
  EXPECT_NE(log.find("end_auction 22 "), std::string::npos);
  EXPECT_EQ(log.find("never_read"), std::string::npos);
  EXPECT_EQ(sent_.data, kAdmission);
}

TEST_F(RunAgentTest, FailedWriteStopsAtOnce) {
  sent_.broken = true;
  EXPECT_EQ(Run("accept\n"), LoopEnd::kGatewayGone);
  EXPECT_EQ(source_.reads, 0);
  EXPECT_EQ(Log(), kAdmissionLog);

  SetUp();
  InitWorld();
  Feed(
      "open_auction 1\ngoods g1 k s 1000 1800\ngood g1 k s 1000 1800\noffer g1 1500\n"
      "never_read\n");
  Output failing_bid{[](void*, const char*, size_t size) -> ssize_t {
                       return size == 4 ? -1 : static_cast<ssize_t>(size);  // "bid\n" fails
                     },
                     nullptr};
  EXPECT_EQ(RunAgent(input_, failing_bid), LoopEnd::kGatewayGone);
  std::string log = Log();
  EXPECT_NE(log.find("offer g1 1500 \nbid\n\n"), std::string::npos);
  EXPECT_EQ(log.find("never_read"), std::string::npos);
}

}  // namespace
