// Child processes of the runner: each started in its own process group (so a whole agent, with
// the gateway it starts, is ended at once) and bound to die with the runner's thread that started
// it. The runner's interruption flag lives here too: SIGINT and SIGTERM set it, and every session
// in progress ends its children when it sees it.
#ifndef TOURNAMENT_CHILD_H_
#define TOURNAMENT_CHILD_H_

#include <sys/types.h>

#include <optional>
#include <string>
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
  // Kills the process group and reaps the child if it still runs.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Whether it has exited (reaping it); never blocks.
  bool Exited();
  // Sends the signal to its whole process group.
  void Signal(int signal);
  // SIGKILL to the group, then waits for the child.
  void Kill();

  pid_t pid() const { return pid_; }
  int stderr_fd() const { return stderr_fd_; }
  // Set once exited: the exit code, or the signal that ended it.
  std::optional<int> exit_code() const { return exit_code_; }
  std::optional<int> exit_signal() const { return exit_signal_; }

  // Reads what is waiting on the stderr pipe and keeps the last `keep` bytes in `tail`.
  void DrainStderr(std::string& tail, size_t keep);

 private:
  void Record(int status);
  pid_t pid_ = -1;
  int stderr_fd_ = -1;
  bool exited_ = false;
  std::optional<int> exit_code_;
  std::optional<int> exit_signal_;
};

// Installs the SIGINT/SIGTERM handlers that set the interruption flag.
void InstallInterruptHandlers();
// The signal that interrupted the runner, or 0.
int Interrupted();

}  // namespace tournament

#endif  // TOURNAMENT_CHILD_H_
