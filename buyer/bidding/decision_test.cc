#include "buyer/bidding/decision.h"

#include <gtest/gtest.h>

#include "buyer/market/tables.h"
#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;
using test_support::MemorySink;

using DecisionTest = AgentTest;

TEST_F(DecisionTest, BidsExactlyByTheRule) {
  const struct {
    const char* name;
    int32_t price, resale, credit, can_bid, good, auction;
    bool bids;
  } cases[] = {
      {"plain bid", 1500, 1800, 50000, 1, 0, 0, true},
      {"price equal to resale", 1800, 1800, 50000, 1, 0, 0, false},
      {"price above the cap", 2500, 3000, 50000, 1, 0, 0, false},
      {"price at the cap", 2000, 2500, 50000, 1, 0, 0, true},
      {"price equal to credit", 2000, 2500, 2000, 1, 0, 0, false},
      {"price just below credit", 2000, 2500, 2001, 1, 0, 0, true},
      {"no offer waiting", 1500, 1800, 50000, 0, 0, 0, false},
      {"price -1 means none", -1, 1800, 50000, 1, 0, 0, false},
      {"other negative price", -5, 1800, 50000, 1, 0, 0, true},
      {"no current good", 1500, 1800, 50000, 1, -1, 0, false},
      {"good in another slot", 10, 11, 50000, 1, 199, 20, true},
      {"auction without a row", 1500, 1800, 50000, 1, 0, 21, false},
      {"negative auction index", 1500, 1800, 50000, 1, 0, -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    InitWorld();
    int32_t row = AuctionHasRow(c.auction) ? c.auction : 0;
    world.current_auction = c.auction;
    world.current_good = c.good;
    world.current_price = c.price;
    world.I_can_bid = c.can_bid;
    world.my_credit[row] = c.credit;
    if (c.good >= 0) world.Goods_to_be_sold[row][c.good].resale_price = c.resale;
    To_Bid_or_Not_to_Bid(output_);
    EXPECT_EQ(sent_.data, c.bids ? "bid\n" : "");
    EXPECT_EQ(world.I_bid, c.bids ? 1 : 0);
    EXPECT_EQ(world.I_can_bid, 0);
    // The rule on plain values, used by the market's tests and the benchmarks, decides alike.
    if (c.price != -1 && c.good != -1 && c.can_bid != 0 && AuctionHasRow(c.auction)) {
      EXPECT_EQ(WouldBid(c.price, c.credit, c.resale), c.bids);
    }
    sent_ = MemorySink{};
    Log();
  }
}

TEST_F(DecisionTest, BidsAgainOnANewPriceAfterABid) {
  InitWorld();
  world.Goods_to_be_sold[0][0].resale_price = 1800;
  world.current_price = 1500;
  world.I_can_bid = 1;
  To_Bid_or_Not_to_Bid(output_);
  To_Bid_or_Not_to_Bid(output_);  // same price, not offered again: no second bid
  world.current_price = 1400;
  world.I_can_bid = 1;
  To_Bid_or_Not_to_Bid(output_);
  EXPECT_EQ(sent_.data, "bid\nbid\n");
}

}  // namespace
