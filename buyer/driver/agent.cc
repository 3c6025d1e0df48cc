#include "buyer/driver/agent.h"

#include "buyer/bidding/decision.h"
#include "buyer/driver/dispatch.h"
#include "buyer/link/commands.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"

namespace {

bool SessionOver() { return InputEnded() || GatewayGone(); }

}  // namespace

LoopEnd RunAgent(Input& input, Output& output) {
  Go_Into_Auction_Room(output);
  while (world.current_auction <= LAST_AUCTION_INDEX && !SessionOver()) {
    world.go_on = 1;
    while (world.go_on != 0 && !SessionOver()) {
      get_message(input);
      To_Bid_or_Not_to_Bid(output);
    }
  }
  if (GatewayGone()) return LoopEnd::kGatewayGone;
  if (InputEnded()) return LoopEnd::kInputEnded;
  return LoopEnd::kAuctionIndexPast;
}
