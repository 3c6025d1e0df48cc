#include "buyer/trace/trace.h"

#include <cstring>

#include "buyer/link/log.h"

namespace {

// Builds one record of the trace straight in the log buffer, then commits it in one piece.
class Record {
 public:
  // Every record here is far below this size: labels, four 16-byte or one 32-byte text field,
  // and at most four numbers of 11 characters.
  static constexpr size_t kMaxSize = 256;

  Record() : start_(LogReserve(kMaxSize)), end_(start_) {}
  ~Record() { LogCommit(static_cast<size_t>(end_ - start_)); }

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

 private:
  char* start_;
  char* end_;
};

}  // namespace

void printGood(const GoodRecord& good) {
  Record()
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
      .Text("\n");
}

void printBuyer(const BuyerRecord& buyer) {
  Record()
      .Text("\n na: ")
      .Field(buyer.name)
      .Text(" be: ")
      .Number(buyer.benefit_total)
      .Text(" ex: ")
      .Number(buyer.expenses)
      .Text("\n")
      .Text("\n-------------------------------------------\n");
}

void trace() {
  for (int i = 0; i < MAX_AUCTIONS; ++i) {
    Record()
        .Text("\n--------------------\n")
        .Text("Credit: ")
        .Number(world.my_credit[i])
        .Text("\n Benefit: ")
        .Number(world.my_expected_benefit[i])
        .Text(" \n");
  }
  for (int i = 0; i < MAX_AUCTIONS; ++i) {
    Record().Text("------GOODS-------\n");
    for (int g = 0; g < world.NGoods_to_be_sold[i] && g < MAX_GOODS; ++g) {
      printGood(world.Goods_to_be_sold[i][g]);
    }
    Record().Text("------BUYERS-------\n");
    for (int b = 0; b < world.NBuyers[i] && b < MAX_BUYERS; ++b) printBuyer(world.Buyers[i][b]);
  }
}
