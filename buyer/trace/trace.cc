#include "buyer/trace/trace.h"

#include <cstring>

#include "buyer/link/log.h"

namespace {

template <size_t N>
void Literal(const char (&text)[N]) {
  LogWrite(text, N - 1);
}

// A text field; its terminator is always inside the field, strnlen keeps that a local fact.
template <size_t N>
void Field(const char (&text)[N]) {
  LogWrite(text, strnlen(text, N));
}

}  // namespace

void printGood(const GoodRecord& good) {
  Literal("\n id: ");
  Field(good.id);
  Literal(" ki: ");
  Field(good.kind);
  Literal(" se: ");
  Field(good.seller);
  Literal(" ip: ");
  LogInt(good.initial_price);
  Literal(" rt: ");
  LogInt(good.out_of_market_value);
  Literal(" rs: ");
  LogInt(good.resale_price);
  Literal(" bu: ");
  Field(good.buyer_name);
  Literal(" pi: ");
  LogInt(good.sale_price);
  Literal("\n");
}

void printBuyer(const BuyerRecord& buyer) {
  Literal("\n na: ");
  Field(buyer.name);
  Literal(" be: ");
  LogInt(buyer.benefit_total);
  Literal(" ex: ");
  LogInt(buyer.expenses);
  Literal("\n");
  Literal("\n-------------------------------------------\n");
}

void trace() {
  for (int i = 0; i < MAX_AUCTIONS; ++i) {
    Literal("\n--------------------\n");
    Literal("Credit: ");
    LogInt(world.my_credit[i]);
    Literal("\n Benefit: ");
    LogInt(world.my_expected_benefit[i]);
    Literal(" \n");
  }
  for (int i = 0; i < MAX_AUCTIONS; ++i) {
    Literal("------GOODS-------\n");
    for (int g = 0; g < world.NGoods_to_be_sold[i] && g < MAX_GOODS; ++g) {
      printGood(world.Goods_to_be_sold[i][g]);
    }
    Literal("------BUYERS-------\n");
    for (int b = 0; b < world.NBuyers[i] && b < MAX_BUYERS; ++b) printBuyer(world.Buyers[i][b]);
  }
}
