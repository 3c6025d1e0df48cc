// The text summary of a session, for a person reading a terminal.
#ifndef ENGINE_SUMMARY_H_
#define ENGINE_SUMMARY_H_

#include <string>

#include "engine/results.h"

namespace market {

// A human-readable account of the session: per auction a table of goods (sold to whom at what
// price, or unsold) and a table of buyers (purchases, spend, benefit, sanctions, fines, expelled),
// then the ignored commands (each line quoted, escaped to stay on one line), a table of the buyers
// that logged in (bids, response times, how they left) and the connections the market dropped.
// Ends with a newline.
std::string SummaryText(const Results& results);

}  // namespace market

#endif  // ENGINE_SUMMARY_H_
