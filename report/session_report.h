// The HTML report of one session: the market measures, each buyer's account per auction
// (spend, surplus, sanctions, ...), and one price-clock chart per good (price_clock_chart.h).
#ifndef REPORT_SESSION_REPORT_H_
#define REPORT_SESSION_REPORT_H_

#include <string>
#include <string_view>

#include "report/session_data.h"

namespace report {

// The whole page; `source` (e.g. the results file's name) is shown under the title.
std::string SessionReport(const SessionData& data, std::string_view source);

}  // namespace report

#endif  // REPORT_SESSION_REPORT_H_
