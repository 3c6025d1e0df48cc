#include "buyer/market/tables.h"

#include <cstring>

constinit World world{};

void InitWorld() {
  for (int a = 0; a < MAX_AUCTIONS; ++a) {
    world.my_credit[a] = INITIAL_CREDIT;
    world.my_expected_benefit[a] = 0;
    world.NGoods_to_be_sold[a] = 0;
    world.NBuyers[a] = 0;
  }
}

void ResetWorld() {
  std::memset(static_cast<void*>(&world), 0, sizeof world);
  world.go_on = 1;
}

int32_t SaturatingAdd(int32_t a, int32_t b) {
  int64_t sum = int64_t{a} + b;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

int32_t SaturatingSub(int32_t a, int32_t b) {
  int64_t difference = int64_t{a} - b;
  if (difference > INT32_MAX) return INT32_MAX;
  if (difference < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(difference);
}

int32_t benefit(const GoodRecord& good) {
  return SaturatingSub(good.resale_price, good.sale_price);
}

bool AuctionHasRow(int32_t a) { return a >= 0 && a < MAX_AUCTIONS; }

int FindGood(int32_t a, const char* id) {
  if (!AuctionHasRow(a)) return -1;
  for (int i = 0; i < world.NGoods_to_be_sold[a]; ++i) {
    if (std::strcmp(world.Goods_to_be_sold[a][i].id, id) == 0) return i;
  }
  return -1;
}

int FindBuyer(int32_t a, const char* name) {
  if (!AuctionHasRow(a)) return -1;
  for (int i = 0; i < world.NBuyers[a]; ++i) {
    if (std::strcmp(world.Buyers[a][i].name, name) == 0) return i;
  }
  return -1;
}

void CopyField(char* field, size_t field_size, const char* text) {
  size_t length = strnlen(text, field_size - 1);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

GoodRecord* CurrentGoodRecord() {
  if (!AuctionHasRow(world.current_auction)) return nullptr;
  if (world.current_good < 0 || world.current_good >= MAX_GOODS) return nullptr;
  return &world.Goods_to_be_sold[world.current_auction][world.current_good];
}
