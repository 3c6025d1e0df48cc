// Text from outside (logins, good ids, scenario names, file names) made safe to place in HTML or
// SVG, as element content or inside a double- or single-quoted attribute.
#ifndef REPORT_HTML_ESCAPE_H_
#define REPORT_HTML_ESCAPE_H_

#include <string>
#include <string_view>

namespace report {

// & < > " ' as character references; every other byte unchanged, except that bytes that are not
// valid UTF-8 and control characters other than tab and newline become U+FFFD.
std::string EscapeHtml(std::string_view text);

}  // namespace report

#endif  // REPORT_HTML_ESCAPE_H_
