// Picks one session's results out of a results file: a single JSON document (a server's
// results), or one document per line (market-sim --results, one session a line).
#ifndef REPORT_SESSION_DOCUMENT_H_
#define REPORT_SESSION_DOCUMENT_H_

#include <string_view>

namespace report {

// The text of session `session` (1-based) of the file: the whole text when it is one document
// (then only session 1 exists); otherwise its session-th non-blank line. Throws InputError (one
// line) when the file holds fewer sessions. The text is not checked further: ReadSessionResults
// does that.
std::string_view SessionDocument(std::string_view text, int session);

}  // namespace report

#endif  // REPORT_SESSION_DOCUMENT_H_
