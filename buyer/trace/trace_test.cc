#include "buyer/trace/trace.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "buyer/link/log.h"
#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;

std::string CreditBlock(int credit, int benefit) {
  return "\n--------------------\nCredit: " + std::to_string(credit) +
         "\n Benefit: " + std::to_string(benefit) + " \n";
}

class TraceTest : public AgentTest {
 protected:
  // What trace() must print for the current tables, built from the uncached record printers.
  std::string Uncached();
};

TEST_F(TraceTest, FreshStart) {
  InitWorld();
  trace();
  std::string expected;
  for (int i = 0; i < 21; ++i) expected += CreditBlock(50000, 0);
  for (int i = 0; i < 21; ++i) expected += "------GOODS-------\n------BUYERS-------\n";
  EXPECT_EQ(Log(), expected);
}

TEST_F(TraceTest, GoodsAndBuyers) {
  InitWorld();
  world.my_credit[1] = 49300;
  world.my_expected_benefit[1] = 200;
  GoodRecord& sold = world.Goods_to_be_sold[1][0];
  std::strcpy(sold.id, "g1");
  std::strcpy(sold.kind, "wine");
  std::strcpy(sold.seller, "s1");
  sold.initial_price = 1000;
  sold.resale_price = 900;
  std::strcpy(sold.buyer_name, "CLogin");
  sold.sale_price = 700;
  GoodRecord& unsold = world.Goods_to_be_sold[1][1];
  std::strcpy(unsold.id, "g2");
  std::strcpy(unsold.kind, "oil");
  std::strcpy(unsold.seller, "s2");
  unsold.initial_price = 500;
  unsold.resale_price = 600;
  unsold.sale_price = -1;
  unsold.out_of_market_value = 100;
  GoodRecord& fresh = world.Goods_to_be_sold[1][2];
  std::strcpy(fresh.id, "g3");
  world.NGoods_to_be_sold[1] = 3;
  std::strcpy(world.Buyers[1][0].name, "CLogin");
  world.Buyers[1][0].benefit_total = 200;
  world.Buyers[1][0].expenses = 700;
  world.Buyers[1][0].status = 2;
  world.NBuyers[1] = 1;
  trace();
  std::string expected = CreditBlock(50000, 0) + CreditBlock(49300, 200);
  for (int i = 2; i < 21; ++i) expected += CreditBlock(50000, 0);
  expected += "------GOODS-------\n------BUYERS-------\n";
  expected +=
      "------GOODS-------\n"
      "\n id: g1 ki: wine se: s1 ip: 1000 rt: 0 rs: 900 bu: CLogin pi: 700\n"
      "\n id: g2 ki: oil se: s2 ip: 500 rt: 100 rs: 600 bu:  pi: -1\n"
      "\n id: g3 ki:  se:  ip: 0 rt: 0 rs: 0 bu:  pi: 0\n"
      "------BUYERS-------\n"
      "\n na: CLogin be: 200 ex: 700\n"
      "\n-------------------------------------------\n";
  for (int i = 2; i < 21; ++i) expected += "------GOODS-------\n------BUYERS-------\n";
  EXPECT_EQ(Log(), expected);
}

std::string TraceTest::Uncached() {
  std::string expected;
  for (int i = 0; i < 21; ++i) {
    expected += CreditBlock(world.my_credit[i], world.my_expected_benefit[i]);
  }
  std::string saved = Log();
  for (int i = 0; i < 21; ++i) {
    LogText("------GOODS-------\n");
    for (int g = 0; g < world.NGoods_to_be_sold[i] && g < MAX_GOODS; ++g) {
      printGood(world.Goods_to_be_sold[i][g]);
    }
    LogText("------BUYERS-------\n");
    for (int b = 0; b < world.NBuyers[i] && b < MAX_BUYERS; ++b) printBuyer(world.Buyers[i][b]);
  }
  expected += Log();
  LogWrite(saved.data(), saved.size());
  return expected;
}

void Fill(int auction, int goods, int buyers) {
  for (int g = 0; g < goods; ++g) {
    GoodRecord& good = world.Goods_to_be_sold[auction][g];
    std::snprintf(good.id, sizeof good.id, "g%d_%d", auction, g);
    std::strcpy(good.kind, "salt");
    std::strcpy(good.seller, "trader1");
    good.initial_price = 1000 + g;
    good.resale_price = 900;
    good.sale_price = -1;
  }
  world.NGoods_to_be_sold[auction] = goods;
  for (int b = 0; b < buyers; ++b) {
    std::snprintf(world.Buyers[auction][b].name, BUYER_NAME_SIZE, "buyer%d", b);
    world.Buyers[auction][b].expenses = b;
  }
  world.NBuyers[auction] = buyers;
}

// Each round's trace shows the tables as they are then: a change to any row an auction prints,
// or to its counts, shows in the next trace, and unchanged tables print the same bytes again.
TEST_F(TraceTest, EveryRoundShowsTheTablesAsTheyAre) {
  struct Change {
    const char* name;
    std::function<void()> apply;
  };
  const std::vector<Change> changes = {
      {"nothing", [] {}},
      {"a sale price", [] { world.Goods_to_be_sold[3][2].sale_price = 700; }},
      {"a buyer's name", [] { std::strcpy(world.Goods_to_be_sold[3][0].buyer_name, "CLogin"); }},
      {"the last character of an id", [] { world.Goods_to_be_sold[0][4].id[4] = 'x'; }},
      {"a buyer's expenses", [] { world.Buyers[20][1].expenses = 12345; }},
      {"a buyer's benefit in the last row", [] { world.Buyers[20][2].benefit_total = -5; }},
      {"a good more", [] { Fill(5, 6, 2); }},
      {"a good less", [] { world.NGoods_to_be_sold[3] = 4; }},
      {"a buyer less", [] { world.NBuyers[20] = 1; }},
      {"no goods", [] { world.NGoods_to_be_sold[0] = 0; }},
      {"a negative count", [] { world.NBuyers[5] = -3; }},
      {"a count above the table", [] { world.NGoods_to_be_sold[7] = MAX_GOODS + 5; }},
      {"the credit", [] { world.my_credit[3] = 123; }},
      {"a row that came back as it was", [] { world.Buyers[20][1].expenses = 1; }},
      // More than the cache holds: some auctions are formatted every time.
      {"every table full",
       [] {
         for (int i = 0; i < MAX_AUCTIONS; ++i) Fill(i, MAX_GOODS, MAX_BUYERS);
       }},
      {"full tables, nothing", [] {}},
      {"full tables, a row in the first and the last auction",
       [] {
         world.Goods_to_be_sold[0][199].sale_price = 1;
         world.Buyers[20][99].expenses = 2;
       }},
      {"a fresh world", [] { InitWorld(); }},
  };
  InitWorld();
  Fill(0, 5, 0);
  Fill(3, 5, 3);
  Fill(20, 0, 3);
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    trace();
    std::string before = Log();
    ASSERT_EQ(before, Uncached());
    change.apply();
    trace();
    EXPECT_EQ(Log(), Uncached());
  }
}

}  // namespace
