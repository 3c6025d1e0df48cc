// Taking in a client's command lines: the one bound on a line's length, and how a line that
// breaks it is recorded (transcript, results, the client's faults).
#ifndef SESSION_INTAKE_H_
#define SESSION_INTAKE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "session/stamped_transcript.h"
#include "wire/line_reader.h"

namespace session {

// The longest command line taken whole, in bytes without its newline. A command is a few words:
// anything longer is a fault, and reading stops keeping it.
inline constexpr size_t kMaxLine = 4096;
// What a server takes from one client in one tick, at most; the rest waits in the kernel for the
// next tick. Far more than any buyer needs (a bid is one line of four bytes), and a bound on the
// work, and on the hold on the clock, of a client that never stops writing. Lines cost the
// market's work; bytes of an overlong line cost only their reading, hence the two bounds.
inline constexpr size_t kTickLineBudget = 1024;
inline constexpr size_t kTickReadBudget = 1 << 20;
// How much of an overlong line the transcript shows.
inline constexpr size_t kOverlongExcerpt = 80;

// Records an overlong line from `client`: a received-note "TAG FIRST-BYTES... (overlong line
// FATE)" (tag empty, or "#N " for one of many connections), an ignored line in the results with
// the bound `max_line` in its reason, and a fault against the client.
void RecordOverlong(market::Engine& engine, market::ClientId client, const wire::Line& line,
                    size_t max_line, StampedTranscript& notes, std::string_view tag,
                    std::string_view fate);

}  // namespace session

#endif  // SESSION_INTAKE_H_
