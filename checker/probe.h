// One run of the agent under test: the agent started as a process group of its own, with a
// scripted market behind the gateway it starts. A "RemoteControl" script first on the agent's
// PATH records its process id and arguments and runs the real gateway as a relay to a loopback
// port the checker listens on, so every line the agent writes reaches the checker unchanged and
// every line the checker sends reaches the agent. The checker is a child subreaper: a gateway the
// agent leaves behind becomes its child, to be seen and ended.
#ifndef CHECKER_PROBE_H_
#define CHECKER_PROBE_H_

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace checker {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// The folder holding the "RemoteControl" script, and the port it relays to. Made once per run.
class Stage {
 public:
  // `gateway`: the real RemoteControl. Empty with *error set when the folder or the listening
  // socket cannot be made.
  static std::optional<Stage> Make(const std::string& gateway, std::string* error);
  Stage(Stage&& other) noexcept;
  Stage& operator=(Stage&&) = delete;
  ~Stage();

  const std::string& dir() const { return dir_; }
  int listener() const { return listener_; }
  std::string gateways_file() const { return dir_ + "/gateways"; }

 private:
  Stage() = default;
  std::string dir_;
  int listener_ = -1;
};

struct Received {
  std::string line;
  Clock::time_point at;
  bool overlong = false;  // longer than the bound: `line` holds its start
};

class Probe {
 public:
  // Starts the agent (argv[0] looked up along PATH), its output to files in the stage's folder.
  Probe(const Stage& stage, const std::vector<std::string>& argv);
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;
  // Ends what is left of the agent's process group and every gateway it started.
  ~Probe();

  bool started() const { return pid_ > 0; }
  // Waits for the gateway's connection; false when none came before the deadline.
  bool Accept(Seconds wait);
  bool connected() const { return socket_ >= 0; }

  // Sends one line to the agent (through the gateway). False once the connection is gone.
  bool Send(const std::string& line);
  // Half-closes the connection: the agent's output ends, its lines still come in.
  void EndOutput();

  // The agent's next line, waiting until `until`; empty at the deadline or at the end of the
  // agent's input (then input_ended() is true).
  std::optional<Received> Next(Clock::time_point until);
  bool input_ended() const { return input_ended_; }

  // Waits for the agent's exit until `until`; its wait status, or empty (still running).
  std::optional<int> WaitExit(Clock::time_point until);

  // Every gateway the agent started: the process id and the arguments it was given (after
  // argv[0], space-separated, with their count first: "1:CLogin").
  struct Gateway {
    pid_t pid = 0;
    std::string args;
  };
  std::vector<Gateway> Gateways() const;
  // The gateways still running at `until` (reaping those that end meanwhile).
  std::vector<pid_t> GatewaysLeft(Clock::time_point until);

 private:
  void Reap();
  const Stage& stage_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  int socket_ = -1;
  std::string buffer_;
  bool input_ended_ = false;
  bool skipping_ = false;  // inside an overlong line
};

// The longest line the checker takes whole from an agent (the market's bound on a command).
inline constexpr size_t kMaxCommandLine = 4096;

}  // namespace checker

#endif  // CHECKER_PROBE_H_
