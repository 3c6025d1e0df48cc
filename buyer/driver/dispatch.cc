#include "buyer/driver/dispatch.h"

#include "buyer/link/log.h"
#include "buyer/market/handlers.h"
#include "buyer/trace/trace.h"

namespace {

// "closed_market" carries no parameters; its handler reads nothing.
void closed_market_slot(Input&) { close_the_auction(); }

}  // namespace

const MessageHandler dispatch_table[NUM_MESSAGE_KINDS] = {
    get_deny_code,              // deny
    nullptr,                    // accept
    get_auction_number,         // open_auction
    get_round_number,           // open_round
    get_good_info,              // good
    update_list_buyers,         // buyers
    update_list_goods,          // goods
    get_price_info,             // offer
    get_sale_info,              // sold
    get_sanction_info,          // sanction
    get_expelled_buyer,         // expulsion
    get_collision_price,        // collision
    get_not_sold_good,          // out_of_market
    get_round_closed_number,    // end_round
    get_auction_closed_number,  // end_auction
    closed_market_slot,         // closed_market
};

void get_message(Input& input) {
  LogWrite("\n\n", 2);
  MessageKind kind = Receive(input);
  if (kind < 0 || kind >= NUM_MESSAGE_KINDS) return;
  MessageHandler handler = dispatch_table[kind];
  if (handler != nullptr) handler(input);
  if (kind == MSG_OPEN_ROUND) trace();
}
