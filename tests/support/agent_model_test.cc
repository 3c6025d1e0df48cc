#include "tests/support/agent_model.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "buyer/driver/agent.h"
#include "buyer/market/tables.h"
#include "tests/support/agent_fixture.h"

namespace test_support {
namespace {

std::string Goods(int first, int count, int initial, int resale) {
  std::string line = "goods";
  for (int i = first; i < first + count; ++i) {
    line +=
        " g" + std::to_string(i) + " k s " + std::to_string(initial) + " " + std::to_string(resale);
  }
  return line;
}

// 27 goods offered at 1990 in auction 2: 25 bought, then no credit left for the other two; then
// auction 2 opened again, with the whole credit again, and one more bought.
std::vector<std::string> CreditSpent() {
  std::vector<std::string> lines = {"open_auction 2", Goods(0, 27, 2000, 3000), "open_round 1"};
  for (int i = 0; i < 27; ++i) {
    const std::string id = "g" + std::to_string(i);
    lines.push_back("good " + id + " k s 2000 3000");
    lines.push_back("offer " + id + " 1990");
    lines.push_back("sold CLogin 1990");
  }
  for (const char* line :
       {"end_round 1", "end_auction 2", "open_auction 2", "goods g0 k s 2000 3000", "open_round 1",
        "good g0 k s 2000 3000", "offer g0 1990"}) {
    lines.push_back(line);
  }
  return lines;
}

// The agent's own code against the model: after each line of a stream, whether the agent has
// written one more "bid" than after the line before.
class AgentModelTest : public AgentTest {
 protected:
  int AgentBids(const std::vector<std::string>& lines, size_t count) {
    SetUp();
    InitWorld();
    std::string stream;
    for (size_t i = 0; i < count; ++i) stream += lines[i] + "\n";
    Feed(stream);
    RunAgent(input_, output_);
    int bids = 0;
    for (size_t at = sent_.data.find("bid\n"); at != std::string::npos;
         at = sent_.data.find("bid\n", at + 1)) {
      ++bids;
    }
    sent_.data.clear();
    return bids;
  }
};

TEST_F(AgentModelTest, BidsAfterTheSameLinesAsTheAgent) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    int model_bids;  // how many times the model bids on the stream
  } cases[] = {
      {"offers and a collision",
       {"accept", "open_auction 1", "goods g1 k s 3000 2600 g2 k s 900 800", "open_round 1",
        "good g1 k s 3000 2600", "offer g1 2500", "offer g1 2000", "collision g1 2000",
        "sold CLogin 2000", "good g2 k s 900 800", "offer g2 800", "offer g2 799", "sold Bob 799",
        "end_round 1", "end_auction 1", "closed_market"},
       3},
      // Each purchase leaves less credit in the auction, until a price is no longer below it;
      // an auction opened again starts with the whole credit again.
      {"credit spent", CreditSpent(), 26},
      // A good past the agent's table, or in an auction past its tables, is never bid on.
      {"full tables",
       {"open_auction 1", Goods(0, MAX_GOODS + 1, 1500, 3000), "open_round 1",
        "good g" + std::to_string(MAX_GOODS) + " k s 1500 3000",
        "offer g" + std::to_string(MAX_GOODS) + " 1400", "out_of_market g1 3",
        "good g" + std::to_string(MAX_GOODS - 1) + " k s 1500 3000",
        "offer g" + std::to_string(MAX_GOODS - 1) + " 1400", "end_auction 1",
        "open_auction " + std::to_string(MAX_AUCTIONS + 1), Goods(0, 1, 1500, 3000), "open_round 1",
        "good g0 k s 1500 3000", "offer g0 1400"},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AgentModel model;
    int before = 0;
    int model_bids = 0;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      const bool bid = model.Receive(c.lines[i]);
      model_bids += bid ? 1 : 0;
      const int after = AgentBids(c.lines, i + 1);
      EXPECT_EQ(bid, after > before) << "after " << c.lines[i];
      before = after;
    }
    EXPECT_EQ(model_bids, c.model_bids);
  }
}

TEST(AgentModel, ABidStandsUntilASaleACollisionOrTheAuctionsEnd) {
  AgentModel model;
  for (const char* line :
       {"open_auction 1", "goods g1 k s 1000 1500 g2 k s 1000 1500", "good g1 k s 1000 1500"}) {
    EXPECT_FALSE(model.Receive(line)) << line;
  }
  EXPECT_FALSE(model.BidStands());
  EXPECT_TRUE(model.Receive("offer g1 900"));
  EXPECT_TRUE(model.BidStands());
  // A collision clears the bid; at a price the rule refuses it is not bid on again.
  EXPECT_FALSE(model.Receive("collision g1 1600"));
  EXPECT_FALSE(model.BidStands());
  EXPECT_TRUE(model.Receive("collision g1 900"));
  EXPECT_TRUE(model.BidStands());
  model.Receive("sold Ann 900");
  EXPECT_FALSE(model.BidStands());
  model.Receive("good g2 k s 1000 1500");
  EXPECT_TRUE(model.Receive("offer g2 900"));
  model.Receive("end_auction 1");
  EXPECT_FALSE(model.BidStands());
}

}  // namespace
}  // namespace test_support
