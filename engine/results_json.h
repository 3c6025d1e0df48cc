// The results of a session as one JSON document, for programs that read them.
#ifndef ENGINE_RESULTS_JSON_H_
#define ENGINE_RESULTS_JSON_H_

#include <functional>
#include <string>
#include <string_view>

#include "engine/results.h"

namespace market {

// The form of the document, its first field "format". Results without that field are of form 1,
// where a good's values are an object {buyer's name: value} and its tick bids rows [at_us, price,
// buyer's name]; form 2 writes them packed (packed_numbers.h) with buyers as indices into the
// auction's buyers, "value_buyers" and "values_packed", "tick_bids_packed".
inline constexpr int kResultsFormat = 2;

// Every figure of the results as one JSON document, ended by a newline: its form, the session,
// each auction's goods and buyers, the ignored lines, each participant with its response times
// (median and p99, null without counted bids), every bid with its arrival and response time, and
// the dropped connections. Always valid JSON: bytes that are not UTF-8 become U+FFFD. One record
// (a good, a buyer, a bid, ...) per line, so line-based tools can pick them out.
std::string ResultsJson(const Results& results);

// The same document on one line, ended by a newline: one session per line of a JSON-lines file.
std::string ResultsJsonLine(const Results& results);

// Takes the text of a document in pieces, in order.
using ResultsSink = std::function<void(std::string_view)>;

// ResultsJson and ResultsJsonLine written in pieces of about 64 KiB as they are made: one record
// (a good, a bid) is built at a time, so the memory they take follows the largest record, not the
// session.
void WriteResultsJson(const Results& results, const ResultsSink& sink);
void WriteResultsJsonLine(const Results& results, const ResultsSink& sink);

// The same bytes as ResultsJson and ResultsJsonLine, laid out from the whole document built in
// memory at once: the reference the streamed writers are checked against.
std::string ResultsJsonOfDocument(const Results& results);
std::string ResultsJsonLineOfDocument(const Results& results);

}  // namespace market

#endif  // ENGINE_RESULTS_JSON_H_
