// One auction's goods in one chart, for pages too big to draw every good's clock: each good at
// its place in the auction (x) with its price range, a vertical line from the reserve up to the
// initial price, and how it ended: a dot at the sale price, a cross at the reserve for a good
// that fell out of the market, a grey square at the initial price for one that did neither.
#ifndef REPORT_AUCTION_SUMMARY_CHART_H_
#define REPORT_AUCTION_SUMMARY_CHART_H_

#include <cstddef>
#include <string>

#include "report/session_data.h"

namespace report {

// <svg class="auction-summary" data-auction="N">; each good is one <g class="good-mark"
// data-index="K" data-good="ID" data-outcome="..."> (K: first_index plus the good's place in the
// auction, counted from 0), with a tooltip naming the good and its outcome.
std::string AuctionSummaryChart(const SessionAuction& auction, size_t first_index);

}  // namespace report

#endif  // REPORT_AUCTION_SUMMARY_CHART_H_
