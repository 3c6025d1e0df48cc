// Text from a file or a database (names, paths, command lines) as it may be shown on a terminal
// or written into a one-line comment: no byte of it can end the line, move the cursor, set the
// window title or ring the bell.
#ifndef TOURNAMENT_TERMINAL_TEXT_H_
#define TOURNAMENT_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace tournament {

// The text as wire::Printable writes it (control bytes as "\n", "\t", "\xNN", a backslash as
// "\\"), and the C1 control characters in UTF-8 (U+0080 to U+009F) as "\u0080" to "\u009f".
std::string TerminalText(std::string_view text);

// Whether the text holds a control character TerminalText escapes (a backslash is none).
bool HasControl(std::string_view text);

}  // namespace tournament

#endif  // TOURNAMENT_TERMINAL_TEXT_H_
