// The live monitor's page: one self-contained HTML document (inline CSS and script, nothing
// fetched from elsewhere) that reads /events and shows the market as it happens. Everything from
// the market is put in with textContent, never parsed as HTML. For tests and tools it keeps
// counters on <body>: data-price-updates (offers and collisions received), data-events (events
// received), data-stream ("connecting", "live", "ended").
#ifndef MARKETD_MONITOR_PAGE_H_
#define MARKETD_MONITOR_PAGE_H_

#include <string>

namespace marketd {

const std::string& MonitorPage();

}  // namespace marketd

#endif  // MARKETD_MONITOR_PAGE_H_
