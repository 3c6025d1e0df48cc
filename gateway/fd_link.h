// The agent on a pair of descriptors, as the gateway program runs it: poll(2) for the waits,
// read(2) and write(2) for the bytes; the agent watched through /proc for the stepped clock. Writes
// never block: each is made after poll(2) found room, in pieces no larger than a pipe takes whole
// (PIPE_BUF).
#ifndef GATEWAY_FD_LINK_H_
#define GATEWAY_FD_LINK_H_

#include <optional>
#include <string>

#include "gateway/agent_link.h"
#include "gateway/agent_watch.h"

namespace gateway {

struct Descriptors {
  int in = 0;
  int out = 1;
  int err = 2;
};

// Never dies of a closed pipe when SIGPIPE is ignored; closes only `out`, and only when asked.
class FdLink : public AgentLink {
 public:
  explicit FdLink(Descriptors fds) : fds_(fds) {}

  bool WaitForInput(std::optional<session::Nanos> timeout, bool output_waiting) override;
  void Sleep(session::Nanos timeout) override;
  Read ReadInput(std::string* bytes) override;
  std::optional<size_t> WriteSome(std::string_view bytes) override;
  void CloseOutput() override;
  void WriteError(std::string_view text) override;
  bool ErrorIsTerminal() const override;
  // Watches the nearest ancestor holding the input pipe (the agent that started the gateway).
  bool WatchAgent(std::string* why) override;
  bool AgentIdle() override;

 private:
  Descriptors fds_;
  std::optional<AgentWatch> watch_;
};

}  // namespace gateway

#endif  // GATEWAY_FD_LINK_H_
