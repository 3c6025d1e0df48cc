// Child processes of the runner. Each program runs under a keeper: a process of the runner's own
// that starts the program in its own process group and is a child subreaper, so whatever the
// program starts, even in a new session, stays its descendant. When the program ends, when the
// runner asks, or when the runner's thread that started it dies (a parent-death signal, also on
// kill -9 of the runner) the keeper kills every process left below it, reaps them all, and ends
// as the program ended. No process a program starts outlives its keeper. The program itself is
// also bound to die with its keeper. The runner's interruption flag lives here too: SIGINT and
// SIGTERM set it, and every session in progress ends its children when it sees it.
#ifndef TOURNAMENT_CHILD_H_
#define TOURNAMENT_CHILD_H_

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tournament {

// How to start one program: its arguments, environment additions, folder and where its output goes.
struct LaunchPlan {
  std::vector<std::string> argv;
  std::vector<std::string> env;  // "NAME=VALUE" replacing or adding to the runner's environment
  std::string cwd;               // empty: the runner's
  std::string stdout_path = "/dev/null";
  std::string stderr_path = "/dev/null";  // used unless stderr_pipe is set
  bool stderr_pipe = false;               // stderr to a pipe the caller reads (Child::stderr_fd)
};

class Child {
 public:
  // Starts the program; throws std::runtime_error when it cannot be started at all. A program
  // that cannot be executed exits with status 127.
  explicit Child(const LaunchPlan& plan);
  // Kills the program and everything it started, and reaps the keeper, if it still runs.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Whether it has exited, with everything it started (reaping the keeper); never blocks.
  bool Exited();
  // Sends the signal to the program's process group (SIGINT, SIGTERM, SIGHUP or SIGQUIT).
  void Signal(int signal);
  // Kills the program and everything below it with SIGKILL, then waits for the keeper.
  void Kill();

  // The keeper's process id.
  pid_t pid() const { return pid_; }
  int stderr_fd() const { return stderr_fd_; }
  // Set once exited: the exit code, or the signal that ended it.
  std::optional<int> exit_code() const { return exit_code_; }
  std::optional<int> exit_signal() const { return exit_signal_; }

  // Passes what is waiting on the stderr pipe to `sink` (at most 1 MiB a call).
  void DrainStderr(const std::function<void(std::string_view)>& sink);

 private:
  void Record(int status);
  pid_t pid_ = -1;
  int stderr_fd_ = -1;
  bool exited_ = false;
  std::optional<int> exit_code_;
  std::optional<int> exit_signal_;
};

// Installs the SIGINT/SIGTERM handlers that set the interruption flag, and ignores SIGPIPE.
// Programs started afterwards get every signal's default action back.
void InstallInterruptHandlers();
// The signal that interrupted the runner, or 0.
int Interrupted();

}  // namespace tournament

#endif  // TOURNAMENT_CHILD_H_
