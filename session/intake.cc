#include "session/intake.h"

#include "engine/commands.h"

namespace session {

void RecordOverlong(market::Engine& engine, market::ClientId client, const wire::Line& line,
                    size_t max_line, StampedTranscript& notes, std::string_view tag,
                    std::string_view fate) {
  std::string note(tag);
  note += market::WithoutPassword(line.text).substr(0, kOverlongExcerpt);
  note += "... (overlong line ";
  note += fate;
  note += ")";
  notes.Received(note);
  const std::string reason = "line longer than " + std::to_string(max_line) + " bytes";
  engine.RecordIgnored(client, line.text, reason.c_str());
  engine.RecordFault(client);
}

}  // namespace session
