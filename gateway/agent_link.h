// The gateway's view of its one agent: an input of command bytes, an output of market lines, and
// an error channel for the gateway's own complaints. Behind an interface so that a session can be
// run against a scripted agent on a clock the caller moves.
#ifndef GATEWAY_AGENT_LINK_H_
#define GATEWAY_AGENT_LINK_H_

#include <optional>
#include <string>
#include <string_view>

#include "session/clock.h"

namespace gateway {

class AgentLink {
 public:
  enum class Read {
    kData,    // bytes were appended
    kEnd,     // the input ended
    kFailed,  // the input failed: the agent is gone as well
    kAgain,   // nothing this time (an interrupted call); the input is still open
  };

  virtual ~AgentLink() = default;

  // Waits until the input can be read or `timeout` has passed (empty: no bound), or, when
  // `output_waiting`, until the output takes more bytes. True when the input can be read (bytes,
  // its end or a failure).
  virtual bool WaitForInput(std::optional<session::Nanos> timeout, bool output_waiting) = 0;
  // Waits `timeout` with nothing to watch (the input has ended).
  virtual void Sleep(session::Nanos timeout) = 0;
  // Reads what can be read without waiting, appending it to *bytes.
  virtual Read ReadInput(std::string* bytes) = 0;
  // Writes to the agent as much of `bytes` as its output takes without waiting: the bytes
  // written (0 while it is full), or nothing when the agent is gone (a broken pipe).
  virtual std::optional<size_t> WriteSome(std::string_view bytes) = 0;
  // Closes the agent's output for good.
  virtual void CloseOutput() = 0;
  // The gateway's own messages (summary, progress, complaints).
  virtual void WriteError(std::string_view text) = 0;
  // True when the error channel is a terminal: a progress display is shown there.
  virtual bool ErrorIsTerminal() const = 0;

  // For the stepped clock: starts watching whether the agent has finished reacting. False, with
  // *why set, when this link cannot tell.
  virtual bool WatchAgent(std::string* why) {
    *why = "this link cannot watch its agent";
    return false;
  }
  // After WatchAgent succeeded: true when the agent has read everything written to it, nothing
  // it wrote waits to be read and it is asleep waiting for more (gateway/agent_watch.h).
  virtual bool AgentIdle() { return false; }
};

}  // namespace gateway

#endif  // GATEWAY_AGENT_LINK_H_
