// Taking in a client's command lines: the one bound on a line's length, and how a line that
// breaks it is recorded (transcript, results, the client's faults).
#ifndef SESSION_INTAKE_H_
#define SESSION_INTAKE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "session/notes.h"
#include "wire/line_reader.h"

namespace session {

// The longest command line taken whole, in bytes without its newline. A command is a few words:
// anything longer is a fault, and reading stops keeping it.
inline constexpr size_t kMaxLine = 4096;
// How much of an overlong line the transcript shows.
inline constexpr size_t kOverlongExcerpt = 80;

// Records an overlong line from `client`: a received-note "TAG FIRST-BYTES... (overlong line
// FATE)" (tag empty, or "#N " for one of many connections), an ignored line in the results with
// the bound `max_line` in its reason, and a fault against the client.
void RecordOverlong(market::Engine& engine, market::ClientId client, const wire::Line& line,
                    size_t max_line, Notes& notes, std::string_view tag, std::string_view fate);

}  // namespace session

#endif  // SESSION_INTAKE_H_
