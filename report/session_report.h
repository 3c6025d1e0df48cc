// The HTML report of one session: the market measures, each buyer's account per auction
// (spend, surplus, sanctions, ...), and one price-clock chart per good (price_clock_chart.h).
// A session with more goods, or more prices and bids to draw, than a browser opens comfortably as
// inline charts gets each auction's goods in one summary chart (auction_summary_chart.h) and
// the clock of the good a reader picks drawn by the page's own script (clock_script.h) from the
// goods' data embedded in the page (clock_data.h); it still fetches nothing.
#ifndef REPORT_SESSION_REPORT_H_
#define REPORT_SESSION_REPORT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "report/session_data.h"

namespace report {

// The most goods, and the most prices and bids (every good's clock points and drawn bids), for
// which the page draws every clock inline.
inline constexpr size_t kInlineClocksMaxGoods = 400;
inline constexpr size_t kInlineClocksMaxMarks = 50000;

// Whether the page of these results draws every good's clock inline.
bool DrawsEveryClock(const SessionData& data);

// The whole page; `source` (e.g. the results file's name) is shown under the title.
std::string SessionReport(const SessionData& data, std::string_view source);

}  // namespace report

#endif  // REPORT_SESSION_REPORT_H_
