#include "buyer/bidding/decision.h"

#include "buyer/link/commands.h"
#include "buyer/market/tables.h"

void To_Bid_or_Not_to_Bid(Output& output) {
  // The good's record is read only once a current good is known.
  const GoodRecord* good = nullptr;
  bool bid =
      world.current_good != -1 && world.current_price != -1 &&
      (good = CurrentGoodRecord()) != nullptr && world.I_can_bid != 0 &&
      WouldBid(world.current_price, world.my_credit[world.current_auction], good->resale_price);
  if (bid) {
    Bid(output);
    world.I_bid = 1;
  }
  world.I_can_bid = 0;
}
