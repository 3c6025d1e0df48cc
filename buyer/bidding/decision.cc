#include "buyer/bidding/decision.h"

#include "buyer/link/commands.h"
#include "buyer/market/tables.h"

namespace {

// True when the agent's own row in the current auction says it is expelled or no longer listed:
// the market ignores its bids until the next auction.
bool OutOfTheAuction() {
  if (!AuctionHasRow(world.current_auction)) return false;
  const int me = FindBuyer(world.current_auction, agent_login);
  return me >= 0 && world.Buyers[world.current_auction][me].status != BUYER_LISTED;
}

}  // namespace

void To_Bid_or_Not_to_Bid(Output& output) {
  // The good's record is read only once a current good is known.
  const GoodRecord* good = nullptr;
  bool bid =
      world.current_good != -1 && world.current_price != -1 &&
      (good = CurrentGoodRecord()) != nullptr && world.I_can_bid != 0 && !OutOfTheAuction() &&
      WouldBid(world.current_price, world.my_credit[world.current_auction], good->resale_price);
  if (bid) {
    Bid(output);
    world.I_bid = 1;
  }
  world.I_can_bid = 0;
}
