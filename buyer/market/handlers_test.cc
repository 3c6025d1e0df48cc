#include "buyer/market/handlers.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "buyer/driver/dispatch.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"
#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;

class HandlersTest : public AgentTest {
 protected:
  // Runs message passes (without the bid decision) until the input has ended.
  void Play(const std::string& stream) {
    ResetReader();
    Feed(stream);
    while (!InputEnded()) get_message(input_);
  }

  // Auction 1 with goods g1 (1000/1800) and g2 (500/900), buyers CLogin and B, g2 under the
  // hammer at 777, the agent's bid standing and an offer waiting.
  void OpenAuctionOne() {
    InitWorld();
    Play(
        "open_auction 1\n"
        "goods g1 wine s1 1000 1800 g2 oil s2 500 900\n"
        "buyers CLogin B\n"
        "good g2 oil s2 500 900\n");
    world.current_price = 777;
    world.I_bid = 1;
    world.I_can_bid = 1;
    Log();
  }

  const GoodRecord& Good(int auction, int index) { return world.Goods_to_be_sold[auction][index]; }
  const BuyerRecord& Buyer(int auction, int index) { return world.Buyers[auction][index]; }
};

TEST_F(HandlersTest, StateChangesByMessage) {
  const struct {
    const char* message;
    int32_t current_good, current_price, I_bid, I_can_bid, go_on;
  } cases[] = {
      {"open_auction 2\n", -1, -1, 0, 1, 1},
      {"open_round 2\n", -1, -1, 0, 0, 1},
      {"good g1 wine s1 1000 1800\n", 0, 1000, 1, 1, 1},
      {"good zz k s 1 2\n", 1, 500, 1, 1, 1},  // unknown id: g2 stays current
      {"offer g2 450\n", 1, 450, 1, 1, 1},
      {"collision g2 460\n", 1, 460, 0, 1, 1},
      {"sold B 450\n", -1, -1, 0, 1, 1},
      {"out_of_market g2 100\n", -1, -1, 1, 1, 1},
      {"end_round 1\n", -1, -1, 1, 1, 1},
      {"end_auction 1\n", -1, -1, 0, 1, 0},
      {"closed_market\n", 1, 777, 1, 1, 0},
      {"sanction B 5\n", 1, 777, 1, 1, 1},
      {"expulsion B\n", 1, 777, 1, 1, 1},
      {"buyers B\n", 1, 777, 1, 1, 1},
      {"goods g3 k s 1 2\n", 1, 777, 1, 1, 1},
      {"deny nope\n", 1, 777, 1, 1, 1},
      {"accept\n", 1, 777, 1, 1, 1},
      {"unknown words here\n", 1, 777, 1, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    SetUp();
    OpenAuctionOne();
    world.go_on = 1;
    Play(c.message);
    EXPECT_EQ(world.current_good, c.current_good);
    EXPECT_EQ(world.current_price, c.current_price);
    EXPECT_EQ(world.I_bid, c.I_bid);
    EXPECT_EQ(world.I_can_bid, c.I_can_bid);
    EXPECT_EQ(world.go_on, c.go_on);
  }
}

TEST_F(HandlersTest, OpenAuctionAndRound) {
  OpenAuctionOne();
  world.my_credit[0] = 100;
  Play("open_auction 1\nopen_round 3\n");
  EXPECT_EQ(world.current_auction, 0);
  EXPECT_EQ(world.round_number, 2);
  EXPECT_EQ(world.NGoods_to_be_sold[0], 0);
  EXPECT_EQ(world.NBuyers[0], 0);
  EXPECT_EQ(world.my_credit[0], INITIAL_CREDIT);
  std::string log = Log();
  EXPECT_NE(log.find("open_round 3 \n--------------------\nCredit: 50000\n Benefit: 0 \n"),
            std::string::npos);
}

TEST_F(HandlersTest, BuyersListMarksAndAppends) {
  OpenAuctionOne();  // CLogin, B
  Play("expulsion B\nbuyers C CLogin\n");
  ASSERT_EQ(world.NBuyers[0], 3);
  EXPECT_STREQ(Buyer(0, 2).name, "C");
  EXPECT_EQ(Buyer(0, 0).status, 0);
  EXPECT_EQ(Buyer(0, 1).status, 1);  // expelled, then left out: 2 becomes 1
  EXPECT_EQ(Buyer(0, 2).status, 0);
  Play("expulsion C\nbuyers C B\n");
  EXPECT_EQ(world.NBuyers[0], 3);
  EXPECT_EQ(Buyer(0, 0).status, 1);
  EXPECT_EQ(Buyer(0, 1).status, 0);
  EXPECT_EQ(Buyer(0, 2).status, 0);  // expelled, named again: back to 0
  Play("buyers\n");                  // an empty list marks everyone absent
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Buyer(0, i).status, 1);
}

TEST_F(HandlersTest, ListWithoutMarkerRunsIntoTheNextLine) {
  InitWorld();
  Play("open_auction 1\nbuyers A \nB\noffer g 5\n");
  ASSERT_EQ(world.NBuyers[0], 2);
  EXPECT_STREQ(Buyer(0, 1).name, "B");
  EXPECT_EQ(world.current_price, 5);  // the message after the list is still dispatched
}

TEST_F(HandlersTest, GoodsListAppendsInArrivalOrder) {
  OpenAuctionOne();
  world.Goods_to_be_sold[0][2].sale_price = 33;  // left over in a slot used before
  Play("goods g1 a b 1 2\ngoods g9 c d 3 4\n");
  ASSERT_EQ(world.NGoods_to_be_sold[0], 4);
  EXPECT_STREQ(Good(0, 2).id, "g1");
  EXPECT_EQ(Good(0, 2).sale_price, 33);
  EXPECT_STREQ(Good(0, 3).id, "g9");
  EXPECT_STREQ(Good(0, 3).kind, "c");
  EXPECT_STREQ(Good(0, 3).seller, "d");
  EXPECT_EQ(Good(0, 3).initial_price, 3);
  EXPECT_EQ(Good(0, 3).resale_price, 4);
  Play("good g1 x x 0 0\n");
  EXPECT_EQ(world.current_good, 0);  // the first g1 wins
}

TEST_F(HandlersTest, SaleAccounts) {
  const struct {
    const char* name;
    const char* setup;
    const char* sale;
    int32_t I_bid;
    int32_t credit, expected_benefit, clogin_benefit, clogin_expenses;
  } cases[] = {
      {"agent wins after bidding", "good g1 w s 1 1\n", "sold CLogin 700\n", 1, 49300, 1100, 1100,
       700},
      {"flag clear: no charge", "good g1 w s 1 1\n", "sold CLogin 700\n", 0, 50000, 0, 1100, 700},
      {"sold to another", "good g1 w s 1 1\n", "sold B 700\n", 1, 50000, 0, 0, 0},
      {"long name cut to 15 is not the login", "good g1 w s 1 1\n", "sold CLoginCLoginCLogin 700\n",
       1, 50000, 0, 0, 0},
      {"no current good: money charged, no benefit", "end_round 1\n", "sold CLogin 700\n", 1, 49300,
       0, 0, 700},
      {"loss makes negative benefit", "good g2 w s 1 1\n", "sold CLogin 1000\n", 1, 49000, -100,
       -100, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    OpenAuctionOne();
    Play(c.setup);
    world.I_bid = c.I_bid;
    Play(c.sale);
    EXPECT_EQ(world.my_credit[0], c.credit);
    EXPECT_EQ(world.my_expected_benefit[0], c.expected_benefit);
    EXPECT_EQ(Buyer(0, 0).benefit_total, c.clogin_benefit);
    EXPECT_EQ(Buyer(0, 0).expenses, c.clogin_expenses);
    EXPECT_EQ(world.I_bid, 0);
    EXPECT_EQ(world.current_good, -1);
  }
}

TEST_F(HandlersTest, SaleRecordsGoodAndOutOfMarketKeepsBuyerName) {
  OpenAuctionOne();
  Play("good g1 w s 1 1\nsold B 1200\ngood g1 w s 1 1\nout_of_market g1 300\n");
  EXPECT_STREQ(Good(0, 0).buyer_name, "B");
  EXPECT_EQ(Good(0, 0).sale_price, -1);
  EXPECT_EQ(Good(0, 0).out_of_market_value, 300);
  EXPECT_EQ(Buyer(0, 1).benefit_total, 600);
  EXPECT_EQ(Buyer(0, 1).expenses, 1200);
}

TEST_F(HandlersTest, SanctionAndExpulsionHitTheFirstMatchOnly) {
  OpenAuctionOne();
  Play("buyers CLogin B\nsanction B 40\nsanction B 2\nsanction Nobody 9\nexpulsion CLogin\n");
  EXPECT_EQ(Buyer(0, 1).expenses, 42);
  EXPECT_EQ(Buyer(0, 0).status, 2);
  EXPECT_EQ(world.my_credit[0], INITIAL_CREDIT);  // the agent's own accounts are not touched
  Play("sanction B 2147483647\n");
  EXPECT_EQ(Buyer(0, 1).expenses, INT32_MAX);
}

TEST_F(HandlersTest, AuctionNumbersWithoutARow) {
  const struct {
    const char* number;
    int32_t index;
  } cases[] = {
      {"0", -1}, {"22", 21}, {"-5", -6}, {"2147483647", 2147483646}, {"-2147483648", INT32_MIN}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    SetUp();
    OpenAuctionOne();
    Play(std::string("open_auction ") + c.number +
         "\nbuyers X Y\ngoods g7 a b 1 2\ngood g7 a b 1 2\noffer g7 1\nsold X 1\n"
         "out_of_market g7 1\nsanction X 1\nexpulsion X\noffer g 42\n");
    EXPECT_EQ(world.current_auction, c.index);
    EXPECT_EQ(world.current_price, 42);  // every message was read in step
    EXPECT_EQ(world.NBuyers[0], 2);      // auction 1's rows are untouched
    EXPECT_EQ(world.NGoods_to_be_sold[0], 2);
    EXPECT_EQ(Good(0, 1).sale_price, 0);
  }
}

TEST_F(HandlersTest, FullTablesReadButDoNotStore) {
  InitWorld();
  std::string stream = "open_auction 1\ngoods";
  for (int i = 0; i < MAX_GOODS + 5; ++i) stream += " g" + std::to_string(i) + " k s 1 2";
  stream += "\nbuyers";
  for (int i = 0; i < MAX_BUYERS + 5; ++i) stream += " b" + std::to_string(i);
  stream += "\noffer g 7\n";
  Play(stream);
  EXPECT_EQ(world.NGoods_to_be_sold[0], MAX_GOODS);
  EXPECT_EQ(world.NBuyers[0], MAX_BUYERS);
  EXPECT_STREQ(Good(0, MAX_GOODS - 1).id, "g199");
  EXPECT_STREQ(Buyer(0, MAX_BUYERS - 1).name, "b99");
  EXPECT_EQ(world.NGoods_to_be_sold[1], 0);  // nothing spilled into the next row
  EXPECT_EQ(world.current_price, 7);
}

TEST_F(HandlersTest, LongNamesAreCutToFifteen) {
  InitWorld();
  Play(
      "open_auction 1\nbuyers ABCDEFGHIJKLMNOPQRSTU\n"
      "goods ID3456789012345XYZ KIND56789012345XYZ SELL56789012345XYZ 1 2\n"
      "sanction ABCDEFGHIJKLMNOxx 5\n");
  EXPECT_STREQ(Buyer(0, 0).name, "ABCDEFGHIJKLMNO");
  EXPECT_EQ(Buyer(0, 0).expenses, 5);  // both names cut to the same 15 characters
  EXPECT_STREQ(Good(0, 0).id, "ID3456789012345");
  EXPECT_STREQ(Good(0, 0).kind, "KIND56789012345");
  EXPECT_STREQ(Good(0, 0).seller, "SELL56789012345");
}

TEST_F(HandlersTest, MessageCutShortByEndOfInputIsDropped) {
  const char* cut[] = {"sold CLogin",  "offer g2",         "open_auction", "sanction B",   "deny",
                       "collision g2", "out_of_market g2", "end_auction",  "good g1 w s 1"};
  for (const char* message : cut) {
    SCOPED_TRACE(message);
    SetUp();
    OpenAuctionOne();
    Play(message);
    EXPECT_EQ(world.current_auction, 0);
    EXPECT_EQ(world.current_good, 1);
    EXPECT_EQ(world.current_price, 777);
    EXPECT_EQ(world.I_bid, 1);
    EXPECT_EQ(world.go_on, 1);
    EXPECT_EQ(world.my_credit[0], INITIAL_CREDIT);
    EXPECT_EQ(Buyer(0, 1).expenses, 0);
    EXPECT_EQ(Log().find("Access denied"), std::string::npos);
  }
  // A list keeps the entries that arrived whole.
  SetUp();
  OpenAuctionOne();
  Play("goods g3 a b 1 2 g4 a b");
  EXPECT_EQ(world.NGoods_to_be_sold[0], 3);
}

TEST_F(HandlersTest, DenyPrintsTheReasonTwice) {
  Play("deny bad_password\n");
  // Three passes: the message, its marker, end of input.
  EXPECT_EQ(Log(), "\n\ndeny bad_password \n Access denied: bad_password\n\n\n\n\n");
}

}  // namespace
