// The line a relay on the stepped clock sends the market server when its agent has finished
// reacting: "~idle N", N the number of bytes the relay has received from the server and handed
// to the agent, all of them read by it. The server then knows the agent has reacted to everything
// it was sent up to byte N; what it sent later is still to be reacted to.
//
// Only the relay may say this for its agent. An agent's own line that begins with '~' (no command
// does) is sent on by the relay with one more '~' in front ("~idle 5" becomes "~~idle 5"): the
// server takes it for an unknown line, as it would take "~idle 5" from a relay on the real clock,
// and never for the relay's word. EscapeAgentBytes does that on the bytes as they stream.
#ifndef WIRE_IDLE_LINE_H_
#define WIRE_IDLE_LINE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wire {

// "~idle N" without its newline.
std::string IdleLine(uint64_t bytes);
// N when `line` is exactly "~idle N" (N a whole number, nothing else on the line).
std::optional<uint64_t> ParseIdleLine(const std::string& line);

// The agent's bytes, as the relay sends them on: a '~' that begins a line is doubled.
class AgentEscape {
 public:
  // Appends the escaped `bytes` to *out.
  void Escape(std::string_view bytes, std::string* out);
  // True when the bytes so far end with a newline (or there were none): a relay's own line may
  // follow without splitting one of the agent's.
  bool at_line_start() const { return at_line_start_; }

 private:
  bool at_line_start_ = true;
};

}  // namespace wire

#endif  // WIRE_IDLE_LINE_H_
