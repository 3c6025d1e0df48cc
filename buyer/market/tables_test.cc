#include "buyer/market/tables.h"

#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;

using TablesTest = AgentTest;

// The tables as the process started: world is constant-initialized, so this copy is taken before
// any test or fixture has touched it.
const World kAtStart = world;

// ResetWorld gives back the tables the process started with: zeroed, with go_on at 1 so that the
// agent's inner loop runs, and no credit until InitWorld.
TEST(TablesAtStart, ResetWorldGivesBackTheTablesOfAProcessStart) {
  EXPECT_EQ(kAtStart.current_auction, 0);
  EXPECT_EQ(kAtStart.current_good, 0);
  EXPECT_EQ(kAtStart.current_price, 0);
  EXPECT_EQ(kAtStart.I_bid, 0);
  EXPECT_EQ(kAtStart.I_can_bid, 0);
  EXPECT_EQ(kAtStart.go_on, 1);
  EXPECT_EQ(kAtStart.round_number, 0);
  for (int a = 0; a < MAX_AUCTIONS; ++a) {
    EXPECT_EQ(kAtStart.NGoods_to_be_sold[a], 0);
    EXPECT_EQ(kAtStart.NBuyers[a], 0);
    EXPECT_EQ(kAtStart.my_credit[a], 0);  // until InitWorld
  }

  std::memset(static_cast<void*>(&world), 0x5a, sizeof world);
  world.go_on = 0;
  ResetWorld();
  EXPECT_EQ(std::memcmp(static_cast<const void*>(&world), static_cast<const void*>(&kAtStart),
                        sizeof world),
            0);
  EXPECT_EQ(world.go_on, 1);
}

TEST_F(TablesTest, InitWorld) {
  world.NGoods_to_be_sold[20] = 7;
  world.NBuyers[3] = 2;
  world.my_credit[5] = 12;
  world.my_expected_benefit[0] = 9;
  InitWorld();
  for (int a = 0; a < MAX_AUCTIONS; ++a) {
    EXPECT_EQ(world.my_credit[a], INITIAL_CREDIT);
    EXPECT_EQ(world.my_expected_benefit[a], 0);
    EXPECT_EQ(world.NGoods_to_be_sold[a], 0);
    EXPECT_EQ(world.NBuyers[a], 0);
  }
  // Slot 0 of auction 0 counts as the current good until a message says otherwise.
  EXPECT_EQ(CurrentGoodRecord(), &world.Goods_to_be_sold[0][0]);
}

TEST(Money, BenefitAndSaturation) {
  GoodRecord good{};
  good.resale_price = 900;
  good.sale_price = 700;
  EXPECT_EQ(benefit(good), 200);
  good.resale_price = 500;
  EXPECT_EQ(benefit(good), -200);
  good.resale_price = INT32_MAX;
  good.sale_price = -1;
  EXPECT_EQ(benefit(good), INT32_MAX);
  good.resale_price = INT32_MIN;
  good.sale_price = 1;
  EXPECT_EQ(benefit(good), INT32_MIN);
  EXPECT_EQ(SaturatingAdd(INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(SaturatingAdd(INT32_MIN, -1), INT32_MIN);
  EXPECT_EQ(SaturatingSub(50000, INT32_MIN), INT32_MAX);
  EXPECT_EQ(SaturatingSub(-5, INT32_MAX), INT32_MIN);
  EXPECT_EQ(SaturatingAdd(-3, 5), 2);
}

TEST_F(TablesTest, LookupIsExactFirstMatchWithinTheRowsInUse) {
  const char* ids[] = {"g10", "g1", "g1", "g2"};
  for (int i = 0; i < 4; ++i) std::strcpy(world.Goods_to_be_sold[3][i].id, ids[i]);
  world.NGoods_to_be_sold[3] = 3;  // "g2" lies beyond the goods in use
  EXPECT_EQ(FindGood(3, "g1"), 1);
  EXPECT_EQ(FindGood(3, "g10"), 0);
  EXPECT_EQ(FindGood(3, "g"), -1);
  EXPECT_EQ(FindGood(3, "g2"), -1);
  EXPECT_EQ(FindGood(4, "g1"), -1);
  EXPECT_EQ(FindGood(-1, "g1"), -1);
  EXPECT_EQ(FindGood(MAX_AUCTIONS, "g1"), -1);
  std::strcpy(world.Buyers[0][0].name, "Ann");
  world.NBuyers[0] = 1;
  EXPECT_EQ(FindBuyer(0, "Ann"), 0);
  EXPECT_EQ(FindBuyer(0, "An"), -1);
  EXPECT_EQ(FindBuyer(21, "Ann"), -1);
}

TEST(CopyField, CutsAtFifteenCharacters) {
  char field[TEXT_FIELD_SIZE];
  std::memset(field, 'x', sizeof field);
  CopyField(field, sizeof field, "0123456789abcdefghij");
  EXPECT_STREQ(field, "0123456789abcde");
  CopyField(field, sizeof field, "short");
  EXPECT_STREQ(field, "short");
}

}  // namespace
