// The agent's view of the market: per-auction tables of goods and buyers, its own accounts, and
// the agent state. Fixed in size, process-wide, alive for the whole run; nothing is allocated.
#ifndef BUYER_MARKET_TABLES_H_
#define BUYER_MARKET_TABLES_H_

#include <cstddef>
#include <cstdint>

constexpr int MAX_AUCTIONS = 21;
constexpr int MAX_GOODS = 200;
constexpr int MAX_BUYERS = 100;
constexpr int32_t INITIAL_CREDIT = 50000;
// Index of the last auction with a table row; the message loop runs while it is not passed.
constexpr int32_t LAST_AUCTION_INDEX = MAX_AUCTIONS - 1;

// Values of BuyerRecord::status.
constexpr int32_t BUYER_LISTED = 0;    // listed in the latest "buyers"
constexpr int32_t BUYER_ABSENT = 1;    // absent from the latest "buyers"
constexpr int32_t BUYER_EXPELLED = 2;  // expelled since

// Text fields hold up to 15 characters and their terminator.
constexpr size_t TEXT_FIELD_SIZE = 16;
constexpr size_t BUYER_NAME_SIZE = 32;

struct GoodRecord {
  char id[TEXT_FIELD_SIZE];
  char kind[TEXT_FIELD_SIZE];
  char seller[TEXT_FIELD_SIZE];
  int32_t initial_price;
  int32_t out_of_market_value;
  int32_t resale_price;
  char buyer_name[TEXT_FIELD_SIZE];
  int32_t sale_price;  // -1 once the good has gone out of the market unsold
};

struct BuyerRecord {
  char name[BUYER_NAME_SIZE];
  int32_t benefit_total;
  int32_t expenses;
  int32_t status;  // BUYER_LISTED, BUYER_ABSENT or BUYER_EXPELLED
};

struct World {
  GoodRecord Goods_to_be_sold[MAX_AUCTIONS][MAX_GOODS];
  int32_t NGoods_to_be_sold[MAX_AUCTIONS];
  BuyerRecord Buyers[MAX_AUCTIONS][MAX_BUYERS];
  int32_t NBuyers[MAX_AUCTIONS];
  int32_t my_credit[MAX_AUCTIONS];
  int32_t my_expected_benefit[MAX_AUCTIONS];

  int32_t current_auction;  // index of the auction in progress (market number - 1)
  int32_t round_number;     // index of the round in progress; recorded, read by nothing
  int32_t current_good;     // index of the good under the hammer, -1 for none
  int32_t current_price;    // last price announced for it, -1 for none
  int32_t I_bid;            // 1 from the agent's bid until a message clears it
  int32_t I_can_bid;        // 1 while an offered price waits for the bid decision
  int32_t go_on = 1;        // keep running the inner message loop
};

// The one process-wide instance: zeroed at start but for go_on, which starts at 1. Until a
// message sets them, current_good and current_price are 0, so slot 0 of auction 0 counts as
// current.
extern World world;

// Gives every auction credit INITIAL_CREDIT, benefit 0 and empty goods and buyer tables.
void InitWorld();

// Returns world to its state at process start (for tests).
void ResetWorld();

// resale_price - sale_price, saturated to the signed 32-bit range.
int32_t benefit(const GoodRecord& good);

// Sums of money saturate at the ends of the signed 32-bit range instead of wrapping, so that an
// absurd price can never turn a spent credit into a large one.
int32_t SaturatingAdd(int32_t a, int32_t b);
int32_t SaturatingSub(int32_t a, int32_t b);

// True when auction index a has a row in the tables (0..MAX_AUCTIONS-1).
bool AuctionHasRow(int32_t a);

// Index of the first good in use of auction a whose id equals id exactly, or -1.
int FindGood(int32_t a, const char* id);
// Index of the first buyer in use of auction a whose name equals name exactly, or -1.
int FindBuyer(int32_t a, const char* name);

// The record of the current good, or nullptr when the current auction has no row or there is no
// current good. Slot 0 of auction 0 counts as current before any message has set current_good.
GoodRecord* CurrentGoodRecord();

// Copies text into a field of field_size bytes, cutting it to field_size - 1 characters.
void CopyField(char* field, size_t field_size, const char* text);

#endif  // BUYER_MARKET_TABLES_H_
