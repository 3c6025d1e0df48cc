// The record of a session's traffic: every line sent and received, in order, each with the time
// since the gateway started, so that a session can be read back or replayed into an agent.
//
// Format, one entry per line:  SECONDS DIRECTION TEXT
//   SECONDS    seconds since start, six decimals
//   DIRECTION  ">" sent to the agent, "<" received from it, "!" an event (no traffic)
// Received lines are written as they came, control bytes shown as \xHH so an entry stays on one
// line; an overlong line is noted as such with its first bytes.
#ifndef GATEWAY_TRANSCRIPT_H_
#define GATEWAY_TRANSCRIPT_H_

#include <cstdio>
#include <string>
#include <string_view>

#include "engine/engine.h"

namespace gateway {

class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Creates or empties the file. False, with errno set, when it cannot be opened.
  bool Open(const std::string& path);

  void Sent(market::Nanos at, std::string_view line) { Write(at, '>', line); }
  void Received(market::Nanos at, std::string_view line) { Write(at, '<', line); }
  void Event(market::Nanos at, std::string_view what) { Write(at, '!', what); }

  // Closes the file; false if anything could not be written.
  bool Close();

 private:
  void Write(market::Nanos at, char direction, std::string_view text);

  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

// The text with bytes below 0x20 and 0x7f written as \xHH, and backslashes doubled.
std::string Printable(std::string_view text);

}  // namespace gateway

#endif  // GATEWAY_TRANSCRIPT_H_
