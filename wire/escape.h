// The one escaper for text quoted into a line of output (transcripts, error messages, the text
// summary): whatever bytes a client or a file held, the result is one printable line.
#ifndef WIRE_ESCAPE_H_
#define WIRE_ESCAPE_H_

#include <string>
#include <string_view>

namespace wire {

// The text with a backslash written as "\\", newline, carriage return and tab as "\n", "\r" and
// "\t", and every other control byte (below 0x20, and 0x7f) as "\xNN" (lower-case hex). Other
// bytes, those of UTF-8 sequences included, are kept as they are. Never contains a newline, and
// the escaping can be undone without loss.
std::string Printable(std::string_view text);

}  // namespace wire

#endif  // WIRE_ESCAPE_H_
