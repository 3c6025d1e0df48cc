#include "buyer/market/handlers.h"

#include <cstring>

#include "buyer/link/commands.h"
#include "buyer/link/log.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"

namespace {

// A good id or buyer name as a handler holds it while it works on it.
struct Name {
  char text[TEXT_FIELD_SIZE];
};

Name ReadName(Input& input) {
  Name name;
  CopyField(name.text, sizeof name.text, GetSymbolicParameter(input));
  return name;
}

void ClearCurrentGood() {
  world.current_good = -1;
  world.current_price = -1;
}

// Common part of "offer" and "collision": an ignored word, then the price now open to a bid.
void ReadOfferedPrice(Input& input, bool collision) {
  GetSymbolicParameter(input);
  int32_t price = GetNumericParameter(input);
  if (InputRanOut()) return;
  if (collision) world.I_bid = 0;
  world.current_price = price;
  world.I_can_bid = 1;
}

// Reads a number that the agent does not keep; true when it arrived.
bool SkipNumber(Input& input) {
  GetNumericParameter(input);
  return !InputRanOut();
}

}  // namespace

void get_deny_code(Input& input) {
  const char* reason = GetSymbolicParameter(input);
  if (InputRanOut()) return;
  LogText("\n Access denied: ");
  LogText(reason);
  LogWrite("\n", 1);
}

void get_auction_number(Input& input) {
  int32_t number = GetNumericParameter(input);
  if (InputRanOut()) return;
  // The index is kept even when it has no row: an index above 20 is what ends the agent.
  world.current_auction = SaturatingSub(number, 1);
  int32_t a = world.current_auction;
  if (AuctionHasRow(a)) {
    world.NGoods_to_be_sold[a] = 0;
    world.NBuyers[a] = 0;
    world.my_credit[a] = INITIAL_CREDIT;
    world.my_expected_benefit[a] = 0;
  }
  ClearCurrentGood();
  world.I_bid = 0;
  world.go_on = 1;
}

void get_round_number(Input& input) {
  int32_t number = GetNumericParameter(input);
  if (InputRanOut()) return;
  world.round_number = SaturatingSub(number, 1);
  ClearCurrentGood();
  world.I_bid = 0;
  world.I_can_bid = 0;
}

void get_good_info(Input& input) {
  Name id = ReadName(input);
  // The rest of the entry's shape: kind, seller, initial and resale price, all ignored here.
  GetSymbolicParameter(input);
  GetSymbolicParameter(input);
  GetNumericParameter(input);
  GetNumericParameter(input);
  if (InputRanOut()) return;
  int index = FindGood(world.current_auction, id.text);
  if (index >= 0) world.current_good = index;
  // An unknown id keeps the current good. With no current good at all the price stays as it is
  // (normally -1 as well): there is no record to take an initial price from.
  if (const GoodRecord* good = CurrentGoodRecord()) world.current_price = good->initial_price;
}

void update_list_buyers(Input& input) {
  const int32_t a = world.current_auction;
  const bool has_row = AuctionHasRow(a);
  if (has_row) {
    for (int i = 0; i < world.NBuyers[a]; ++i) world.Buyers[a][i].status = BUYER_ABSENT;
  }
  for (;;) {
    const char* word = GetSymbolicParameter(input);
    if (word[0] == '\0') break;
    Name name;
    CopyField(name.text, sizeof name.text, word);
    if (!has_row) continue;
    int index = FindBuyer(a, name.text);
    if (index >= 0) {
      world.Buyers[a][index].status = BUYER_LISTED;
    } else if (world.NBuyers[a] < MAX_BUYERS) {
      // A buyer beyond the table's size is read and not stored.
      BuyerRecord& buyer = world.Buyers[a][world.NBuyers[a]++];
      CopyField(buyer.name, sizeof buyer.name, name.text);
      buyer.benefit_total = 0;
      buyer.expenses = 0;
      buyer.status = BUYER_LISTED;
    }
  }
}

void update_list_goods(Input& input) {
  const int32_t a = world.current_auction;
  for (;;) {
    const char* word = GetSymbolicParameter(input);
    if (word[0] == '\0') break;
    Name id;
    CopyField(id.text, sizeof id.text, word);
    Name kind = ReadName(input);
    Name seller = ReadName(input);
    int32_t initial_price = GetNumericParameter(input);
    int32_t resale_price = GetNumericParameter(input);
    if (InputRanOut()) break;
    // A good beyond the table's size, or in an auction without a row, is read and not stored.
    if (!AuctionHasRow(a) || world.NGoods_to_be_sold[a] >= MAX_GOODS) continue;
    // Appended without comparing ids; the fields not named here keep what the slot held.
    GoodRecord& good = world.Goods_to_be_sold[a][world.NGoods_to_be_sold[a]++];
    std::memcpy(good.id, id.text, sizeof good.id);
    std::memcpy(good.kind, kind.text, sizeof good.kind);
    std::memcpy(good.seller, seller.text, sizeof good.seller);
    good.initial_price = initial_price;
    good.resale_price = resale_price;
  }
}

void get_price_info(Input& input) { ReadOfferedPrice(input, /*collision=*/false); }

void get_sale_info(Input& input) {
  Name name = ReadName(input);
  int32_t price = GetNumericParameter(input);
  if (InputRanOut()) return;
  const int32_t a = world.current_auction;
  GoodRecord* good = CurrentGoodRecord();
  if (good != nullptr) {
    CopyField(good->buyer_name, sizeof good->buyer_name, name.text);
    good->sale_price = price;
  }
  // Without a current good the sale still happened at that price: the money is counted for the
  // buyer and, below, for the agent, whose credit must not overstate what the market will let it
  // spend. Only the benefit, which needs the good's resale price, is left out.
  int index = FindBuyer(a, name.text);
  if (index >= 0) {
    BuyerRecord& buyer = world.Buyers[a][index];
    if (good != nullptr) buyer.benefit_total = SaturatingAdd(buyer.benefit_total, benefit(*good));
    buyer.expenses = SaturatingAdd(buyer.expenses, price);
  }
  if (world.I_bid == 1 && std::strcmp(name.text, agent_login) == 0 && AuctionHasRow(a)) {
    world.my_credit[a] = SaturatingSub(world.my_credit[a], price);
    if (good != nullptr) {
      world.my_expected_benefit[a] = SaturatingAdd(world.my_expected_benefit[a], benefit(*good));
    }
  }
  world.I_bid = 0;
  ClearCurrentGood();
}

void get_sanction_info(Input& input) {
  Name name = ReadName(input);
  int32_t amount = GetNumericParameter(input);
  if (InputRanOut()) return;
  int index = FindBuyer(world.current_auction, name.text);
  if (index < 0) return;
  BuyerRecord& buyer = world.Buyers[world.current_auction][index];
  buyer.expenses = SaturatingAdd(buyer.expenses, amount);
}

void get_expelled_buyer(Input& input) {
  Name name = ReadName(input);
  if (InputRanOut()) return;
  int index = FindBuyer(world.current_auction, name.text);
  if (index >= 0) world.Buyers[world.current_auction][index].status = BUYER_EXPELLED;
}

void get_collision_price(Input& input) { ReadOfferedPrice(input, /*collision=*/true); }

void get_not_sold_good(Input& input) {
  GetSymbolicParameter(input);
  int32_t value = GetNumericParameter(input);
  if (InputRanOut()) return;
  if (GoodRecord* good = CurrentGoodRecord()) {
    good->sale_price = -1;
    good->out_of_market_value = value;
  }
  ClearCurrentGood();
}

void get_round_closed_number(Input& input) {
  if (!SkipNumber(input)) return;
  ClearCurrentGood();
}

void get_auction_closed_number(Input& input) {
  if (!SkipNumber(input)) return;
  ClearCurrentGood();
  world.I_bid = 0;
  world.go_on = 0;
}

void close_the_auction() { world.go_on = 0; }
