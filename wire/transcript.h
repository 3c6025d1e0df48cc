// The record of a session's traffic: every line sent and received, in order, each with the time
// since the program started, so that a session can be read back or replayed into an agent.
//
// Format, one entry per line:  SECONDS DIRECTION TEXT
//   SECONDS    seconds since start, six decimals
//   DIRECTION  ">" sent, "<" received, "!" an event (no traffic)
// Text is written through wire::Printable, so an entry always stays on one line; an overlong
// line is noted as such with its first bytes.
#ifndef WIRE_TRANSCRIPT_H_
#define WIRE_TRANSCRIPT_H_

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace wire {

class Transcript {
 public:
  using Nanos = std::chrono::nanoseconds;

  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Creates or empties the file, readable by its owner only. False, with errno set, when it
  // cannot be opened.
  bool Open(const std::string& path);
  // True between a successful Open and Close: entries are being written.
  bool is_open() const { return file_ != nullptr; }

  void Sent(Nanos at, std::string_view line) { Write(at, '>', line); }
  void Received(Nanos at, std::string_view line) { Write(at, '<', line); }
  void Event(Nanos at, std::string_view what) { Write(at, '!', what); }

  // Writes out the entries buffered so far. Events are written out at once; traffic is written
  // out here (a server calls it once a tick, so that a flood costs no write per line) or at Close.
  void Flush();

  // Closes the file; false if anything could not be written. Without a file, true.
  bool Close();

 private:
  void Write(Nanos at, char direction, std::string_view text);

  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace wire

#endif  // WIRE_TRANSCRIPT_H_
