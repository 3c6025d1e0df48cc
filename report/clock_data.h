// Every good's price clock in a compact form for a page that draws the clocks in the browser
// (clock_script.h): a JSON document placed in <script type="application/json">, so it is data
// and never runs. Bids at one tick share their time and price and are kept as one group naming
// its buyers either as a list of indices into the document's buyer table or, when that is
// shorter and the indices rise, as a bitmap over the table (base64, bit i of byte i / 8 at
// position i % 8), which is what keeps a tick answered by hundreds of buyers to a few hundred
// bytes. Every bid reads back in its place: the table lists the auctions' buyers in their
// order, which is the order of a tick's bids in the results.
//
//   {"buyers": [NAME, ...],          the auctions' buyers, then any other bidder
//    "styles": [INDEX, ...],         each buyer's style (palette.h), as the page gives it
//    "goods": [GOOD, ...]}           every good of every auction, in the results' order
//   GOOD: {"a": auction, "id", "kind", "seller", "round", "initial", "reserve", "outcome",
//          "buyer", "price" (sold only), "caption",
//          with the clock:    "clock": [t, price, dt, dprice, ...] (t: the first offer's time,
//                                      then the steps from the previous one, in microseconds),
//                             "rises": [i, ...] (the clock's points that are collisions),
//                             "end": ended_us - t (absent when not known),
//                             "bids": [[dt, price, BUYERS], ...] (dt: from the previous group,
//                                      the first from t; BUYERS: [index, ...] or "base64")
//          without it:        "svg": the good's chart as the page would draw it inline}
//
// Numbers are integers as JSON writes them (differences in doubles, so that hostile times do
// not overflow). Text is JSON-escaped with <, > and & as \u escapes, so the document cannot end
// its script element, and bytes that are not UTF-8 become U+FFFD.
#ifndef REPORT_CLOCK_DATA_H_
#define REPORT_CLOCK_DATA_H_

#include <map>
#include <string>

#include "report/session_data.h"

namespace report {

// `styles` gives each buyer's style; buyers missing from it get the next one (as
// price_clock_chart.h draws them).
std::string ClockDataJson(const SessionData& data, const std::map<std::string, size_t>& styles);

}  // namespace report

#endif  // REPORT_CLOCK_DATA_H_
