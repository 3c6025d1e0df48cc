// The agent's bidding rule, run after every message pass.
#ifndef BUYER_BIDDING_DECISION_H_
#define BUYER_BIDDING_DECISION_H_

#include <cstdint>

#include "buyer/link/io.h"

// The highest price the agent ever bids.
constexpr int32_t BID_PRICE_CAP = 2000;

// The rule on plain values: true when price is below the agent's credit left in the auction and
// below the good's resale price, and at most BID_PRICE_CAP.
constexpr bool WouldBid(int32_t price, int32_t credit, int32_t resale_price) {
  return price < credit && price < resale_price && price <= BID_PRICE_CAP;
}

// Bids ("bid\n" to output, I_bid = 1) when there is a current good and price, the price is below
// the agent's credit in this auction and below the good's resale price, an offered price waits
// (I_can_bid), and the price is at most BID_PRICE_CAP (WouldBid on the current values). Clears
// I_can_bid in every case, so each offered price is decided on once. While the current auction has
// no table row it never bids.
void To_Bid_or_Not_to_Bid(Output& output);

#endif  // BUYER_BIDDING_DECISION_H_
