#include "buyer/trace/trace.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "buyer/link/log.h"

namespace {

// Every record here is far below this size: labels, four 16-byte or one 32-byte text field, and
// at most four numbers of 11 characters.
constexpr size_t kMaxRecordSize = 256;

// Builds one record of the trace at a given place, which must have room for kMaxRecordSize bytes.
class Record {
 public:
  explicit Record(char* start) : end_(start) {}

  template <size_t N>
  Record& Text(const char (&literal)[N]) {
    std::memcpy(end_, literal, N - 1);
    end_ += N - 1;
    return *this;
  }

  // A text field: the whole field is copied (a fixed-size copy is cheaper than a variable one),
  // and the end moves only past its text.
  template <size_t N>
  Record& Field(const char (&field)[N]) {
    std::memcpy(end_, field, N);
    end_ += strnlen(field, N);
    return *this;
  }

  Record& Number(int32_t value) {
    end_ += FormatInt(value, end_);
    return *this;
  }

  char* end() const { return end_; }

 private:
  char* end_;
};

char* FormatGood(const GoodRecord& good, char* out) {
  return Record(out)
      .Text("\n id: ")
      .Field(good.id)
      .Text(" ki: ")
      .Field(good.kind)
      .Text(" se: ")
      .Field(good.seller)
      .Text(" ip: ")
      .Number(good.initial_price)
      .Text(" rt: ")
      .Number(good.out_of_market_value)
      .Text(" rs: ")
      .Number(good.resale_price)
      .Text(" bu: ")
      .Field(good.buyer_name)
      .Text(" pi: ")
      .Number(good.sale_price)
      .Text("\n")
      .end();
}

char* FormatBuyer(const BuyerRecord& buyer, char* out) {
  return Record(out)
      .Text("\n na: ")
      .Field(buyer.name)
      .Text(" be: ")
      .Number(buyer.benefit_total)
      .Text(" ex: ")
      .Number(buyer.expenses)
      .Text("\n")
      .Text("\n-------------------------------------------\n")
      .end();
}

// Formats one record straight into the log buffer.
template <typename Row>
void LogRecord(const Row& row, char* (*format)(const Row&, char*)) {
  char* start = LogReserve(kMaxRecordSize);
  LogCommit(static_cast<size_t>(format(row, start) - start));
}

// The goods and buyers part of one auction's trace, as printed last time, with the rows it was
// printed from. The text is a function of the rows' bytes alone, so rows that compare equal
// byte for byte print the same text again.
struct AuctionTrace {
  bool printed = false;
  std::vector<GoodRecord> goods;
  std::vector<BuyerRecord> buyers;
  std::string text;
};

AuctionTrace auction_traces[MAX_AUCTIONS];

// Bytes of rows and text the cache may hold. Auctions beyond it are formatted every time, so that
// 21 full tables keep the agent's peak memory within its 4 MiB target.
constexpr size_t kCacheBudget = 512 * 1024;
size_t cache_bytes = 0;

size_t Footprint(const AuctionTrace& cached) {
  return cached.goods.capacity() * sizeof(GoodRecord) +
         cached.buyers.capacity() * sizeof(BuyerRecord) + cached.text.capacity();
}

// Room for the largest goods and buyers part: two headings and every row.
char scratch[64 + (MAX_GOODS + MAX_BUYERS) * kMaxRecordSize];

template <typename Row>
bool SameRows(const std::vector<Row>& printed, const Row* rows, size_t count) {
  return printed.size() == count &&
         (count == 0 || std::memcmp(printed.data(), rows, count * sizeof(Row)) == 0);
}

// Logs auction i's goods and buyers, formatting them again only when a row changed.
void TraceAuction(int i) {
  const size_t goods = static_cast<size_t>(std::clamp(world.NGoods_to_be_sold[i], 0, MAX_GOODS));
  const size_t buyers = static_cast<size_t>(std::clamp(world.NBuyers[i], 0, MAX_BUYERS));
  const GoodRecord* good_rows = world.Goods_to_be_sold[i];
  const BuyerRecord* buyer_rows = world.Buyers[i];
  AuctionTrace& cached = auction_traces[i];
  if (cached.printed && SameRows(cached.goods, good_rows, goods) &&
      SameRows(cached.buyers, buyer_rows, buyers)) {
    LogWrite(cached.text.data(), cached.text.size());
    return;
  }
  char* end = Record(scratch).Text("------GOODS-------\n").end();
  for (size_t g = 0; g < goods; ++g) end = FormatGood(good_rows[g], end);
  end = Record(end).Text("------BUYERS-------\n").end();
  for (size_t b = 0; b < buyers; ++b) end = FormatBuyer(buyer_rows[b], end);
  const size_t length = static_cast<size_t>(end - scratch);
  // A fresh entry, so that its memory is what it holds.
  if (cached.printed) cache_bytes -= Footprint(cached);
  cached = AuctionTrace();
  if (cache_bytes + goods * sizeof(GoodRecord) + buyers * sizeof(BuyerRecord) + length <=
      kCacheBudget) {
    cached.printed = true;
    cached.goods.assign(good_rows, good_rows + goods);
    cached.buyers.assign(buyer_rows, buyer_rows + buyers);
    cached.text.assign(scratch, length);
    cache_bytes += Footprint(cached);
  }
  LogWrite(scratch, length);
}

}  // namespace

void printGood(const GoodRecord& good) { LogRecord(good, FormatGood); }

void printBuyer(const BuyerRecord& buyer) { LogRecord(buyer, FormatBuyer); }

void trace() {
  for (int i = 0; i < MAX_AUCTIONS; ++i) {
    char* start = LogReserve(kMaxRecordSize);
    char* end = Record(start)
                    .Text("\n--------------------\n")
                    .Text("Credit: ")
                    .Number(world.my_credit[i])
                    .Text("\n Benefit: ")
                    .Number(world.my_expected_benefit[i])
                    .Text(" \n")
                    .end();
    LogCommit(static_cast<size_t>(end - start));
  }
  for (int i = 0; i < MAX_AUCTIONS; ++i) TraceAuction(i);
}
