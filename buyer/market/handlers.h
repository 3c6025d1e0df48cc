// One handler per incoming message kind but "accept". Each reads its message's parameters from
// the input and applies the message to the tables and agent state of the current auction.
//
// Rules every handler keeps:
// - It reads all of its message's words, whatever it can store, so the reader stays in step.
// - While current_auction has no row in the tables (an "open_auction" number outside 1..21) it
//   touches no table row; the agent state is still updated.
// - A message cut short by end of input (a parameter never came) is dropped: nothing is changed.
//   A list cut short keeps the entries that arrived whole.
// - Names and ids are held in 16-byte fields: longer ones are cut to 15 characters.
#ifndef BUYER_MARKET_HANDLERS_H_
#define BUYER_MARKET_HANDLERS_H_

#include "buyer/link/io.h"

void get_deny_code(Input& input);
void get_auction_number(Input& input);
void get_round_number(Input& input);
void get_good_info(Input& input);
void update_list_buyers(Input& input);
void update_list_goods(Input& input);
void get_price_info(Input& input);
void get_sale_info(Input& input);
void get_sanction_info(Input& input);
void get_expelled_buyer(Input& input);
void get_collision_price(Input& input);
void get_not_sold_good(Input& input);
void get_round_closed_number(Input& input);
void get_auction_closed_number(Input& input);
void close_the_auction();

#endif  // BUYER_MARKET_HANDLERS_H_
