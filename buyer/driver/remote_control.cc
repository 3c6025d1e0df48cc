#include "buyer/driver/remote_control.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "buyer/link/commands.h"
#include "buyer/market/tables.h"

int Remote_Control[2] = {-1, -1};
int Pannel[2] = {-1, -1};

namespace {

pid_t gateway_pid = -1;
int exec_error = 0;
int reaped_status = -1;  // the wait status of a child reaped at start-up (failed exec)

// Exec status pipe: both ends close on exec, so a successful exec closes the child's write end
// and the parent reads end of input; a failed exec writes its errno there first. This is how the
// parent learns for certain that the gateway never started, whatever became of its commands.
int exec_status[2] = {-1, -1};

// How long a gateway whose input has ended may take to exit on its own, and then to obey SIGTERM.
constexpr int kGatewayExitGraceMs = 5000;
constexpr int kGatewayTermGraceMs = 2000;
// Poll intervals while waiting for the gateway's exit: a gateway whose input has ended exits
// within a millisecond or two, so the first looks come close together, doubling up to the last.
constexpr long kFirstExitPollUs = 100;
constexpr long kExitPollUs = 10'000;

// Runs in the child after fork: the gateway's standard input and output become the pipes.
[[noreturn]] void BecomeGateway() {
  close(0);
  dup(Remote_Control[0]);
  close(1);
  dup(Pannel[1]);
  close(Remote_Control[0]);
  close(Remote_Control[1]);
  close(Pannel[0]);
  close(Pannel[1]);
  char* const argv[] = {const_cast<char*>("../RemoteControl"), const_cast<char*>(agent_login),
                        nullptr};
  int result = execvp("RemoteControl", argv);
  // The parent reports the failure on standard error; the child only hands it the errno.
  int error = errno;
  if (exec_status[1] >= 0) {
    [[maybe_unused]] ssize_t ignored = write(exec_status[1], &error, sizeof error);
  }
  _exit(result);
}

// Polls for the child's exit for up to milliseconds (of pauses); true with *status set once it
// has exited.
bool WaitFor(pid_t pid, int milliseconds, int* status) {
  long pause_us = kFirstExitPollUs;
  for (long waited_us = 0;; waited_us += pause_us) {
    pid_t result = waitpid(pid, status, WNOHANG);
    if (result == pid) return true;
    if (result < 0 && errno != EINTR) {
      *status = -1;
      return true;
    }
    if (waited_us >= milliseconds * 1000L) return false;
    if (waited_us > 0 && pause_us < kExitPollUs) pause_us = std::min(pause_us * 2, kExitPollUs);
    const timespec pause = {0, pause_us * 1000};
    nanosleep(&pause, nullptr);
  }
}

// Waits for the child's exec: end of input on the status pipe means it ran, four bytes carry the
// errno of a failed exec. Without the pipe (it could not be made) nothing is known and 0 stays.
int ReadExecStatus() {
  if (exec_status[0] < 0) return 0;
  close(exec_status[1]);
  exec_status[1] = -1;
  int error = 0;
  size_t got = 0;
  while (got < sizeof error) {
    ssize_t n = read(exec_status[0], reinterpret_cast<char*>(&error) + got, sizeof error - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(exec_status[0]);
  exec_status[0] = -1;
  return got == sizeof error ? error : 0;
}

}  // namespace

void catch_the_remote_control() {
  pipe(Remote_Control);
  pipe(Pannel);
  if (pipe(exec_status) != 0 || fcntl(exec_status[0], F_SETFD, FD_CLOEXEC) != 0 ||
      fcntl(exec_status[1], F_SETFD, FD_CLOEXEC) != 0) {
    exec_status[0] = exec_status[1] = -1;
  }
  pid_t pid = fork();
  if (pid == 0) BecomeGateway();
  int fork_error = errno;
  if (pid > 0) {
    exec_error = ReadExecStatus();
    // A child whose exec failed is past its last step: reap it now, so that its pipe ends are
    // closed before the admission is written and every run logs the same failed write.
    if (exec_error != 0) {
      while (waitpid(pid, &reaped_status, 0) < 0 && errno == EINTR) {
      }
      pid = 0;
    }
  } else if (exec_status[0] >= 0) {
    close(exec_status[0]);
    close(exec_status[1]);
    exec_status[0] = exec_status[1] = -1;
  }
  // A failed fork (-1) takes this branch too: there is no gateway behind the pipes, so the first
  // command write fails and the first read meets end of input.
  gateway_pid = pid;  // 0: already reaped
  if (pid < 0) {
    std::fprintf(stderr, "buyer: cannot start RemoteControl: %s\n", std::strerror(fork_error));
  }
  close(Remote_Control[0]);
  close(Pannel[1]);
  std::signal(SIGPIPE, SIG_IGN);
  InitWorld();
}

int GatewayExecError() { return exec_error; }

int EndGateway() {
  close(Remote_Control[1]);
  Remote_Control[1] = -1;
  if (gateway_pid == 0) return reaped_status;
  if (gateway_pid < 0) return -1;
  int status = 0;
  // A gateway sees end of input once the write end is closed and should exit at once; one that
  // does not is stopped, so the agent never hangs on it.
  if (!WaitFor(gateway_pid, kGatewayExitGraceMs, &status)) {
    kill(gateway_pid, SIGTERM);
    if (!WaitFor(gateway_pid, kGatewayTermGraceMs, &status)) {
      kill(gateway_pid, SIGKILL);
      while (waitpid(gateway_pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  gateway_pid = -1;
  return status;
}
