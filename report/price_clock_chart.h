// One good's price clock as an SVG chart: the offered price against the session's time, each
// recorded bid marked in its buyer's style, collisions as upward jumps, the initial and reserve
// prices as reference lines, and how the good left the clock (the sale, or the fall out of the
// market at its reserve). The results record times only with bids, so the stretches between
// them (and a good without bids) are drawn dashed: the price ran down there, at times unknown.
#ifndef REPORT_PRICE_CLOCK_CHART_H_
#define REPORT_PRICE_CLOCK_CHART_H_

#include <cstddef>
#include <map>
#include <string>

#include "report/session_data.h"

namespace report {

// <svg class="price-clock" data-auction="N" data-good="ID">; every bid is one element of class
// "bid"; `buyer_styles` gives each buyer's index into the palette (buyers missing from it get
// the last style).
std::string PriceClockChart(const SessionGood& good,
                            const std::map<std::string, size_t>& buyer_styles);

}  // namespace report

#endif  // REPORT_PRICE_CLOCK_CHART_H_
