// A transcript writer that stamps every entry with the session's clock. Without a transcript
// file, every entry is dropped.
#ifndef SESSION_STAMPED_TRANSCRIPT_H_
#define SESSION_STAMPED_TRANSCRIPT_H_

#include <string_view>

#include "session/clock.h"
#include "wire/transcript.h"

namespace session {

class StampedTranscript {
 public:
  StampedTranscript(const Clock& clock, wire::Transcript& transcript)
      : clock_(clock), transcript_(transcript) {}

  void Sent(std::string_view line) { transcript_.Sent(clock_.Now(), line); }
  void Received(std::string_view line) { transcript_.Received(clock_.Now(), line); }
  void Event(std::string_view what) { transcript_.Event(clock_.Now(), what); }
  // Writes out what is buffered (see wire::Transcript::Flush).
  void Flush() { transcript_.Flush(); }

 private:
  const Clock& clock_;
  wire::Transcript& transcript_;
};

}  // namespace session

#endif  // SESSION_STAMPED_TRANSCRIPT_H_
