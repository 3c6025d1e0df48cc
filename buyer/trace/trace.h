// The state trace: a dump of the market tables to the log, printed at the start of every round.
// It only reads the tables. It keeps each auction's goods and buyers rows as last printed, with
// their text, and prints that text again when the rows are byte for byte the same.
#ifndef BUYER_TRACE_TRACE_H_
#define BUYER_TRACE_TRACE_H_

#include "buyer/market/tables.h"

// Credit and benefit of all 21 auctions, then the goods and buyers of all 21.
void trace();
// "\n id: %s ki: %s se: %s ip: %d rt: %d rs: %d bu: %s pi: %d\n"
void printGood(const GoodRecord& good);
// "\n na: %s be: %d ex: %d\n" and a rule of 43 dashes.
void printBuyer(const BuyerRecord& buyer);

#endif  // BUYER_TRACE_TRACE_H_
