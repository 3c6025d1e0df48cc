#include "buyer/trace/trace.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/agent_fixture.h"

namespace {

std::string CreditBlock(int credit, int benefit) {
  return "\n--------------------\nCredit: " + std::to_string(credit) +
         "\n Benefit: " + std::to_string(benefit) + " \n";
}

using TraceTest = AgentTest;

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

}  // namespace
