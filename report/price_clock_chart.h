// One good's price clock as an SVG chart: the offered price as a step line against the time
// since the good's first offer, collisions as upward jumps, every bid at a tick (agents' and
// rivals') marked in its buyer's style, the initial and reserve prices as reference lines, and
// how the good left the clock (the sale labelled with buyer and price, or the fall out of the
// market at its reserve). Results written before goods carried their clock are drawn as they
// were: against the session's time, the participants' bids only, dashed between them.
#ifndef REPORT_PRICE_CLOCK_CHART_H_
#define REPORT_PRICE_CLOCK_CHART_H_

#include <cstddef>
#include <map>
#include <string>

#include "report/session_data.h"

namespace report {

// <svg class="price-clock" data-auction="N" data-good="ID">; every bid drawn is one element of
// class "bid": the good's tick bids when its clock is recorded, else its participants' bids;
// every collision one element of class "collision"; `buyer_styles` gives each buyer's index into
// the palette (buyers missing from it get the last style).
std::string PriceClockChart(const SessionGood& good,
                            const std::map<std::string, size_t>& buyer_styles);

// The line under a good's chart: how it ended, how many prices and bids it had, its collisions
// and voided sales.
std::string GoodCaption(const SessionGood& good);

}  // namespace report

#endif  // REPORT_PRICE_CLOCK_CHART_H_
