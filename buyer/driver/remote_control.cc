#include "buyer/driver/remote_control.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/wait.h>
#include <unistd.h>

#include "buyer/link/commands.h"
#include "buyer/market/tables.h"

int Remote_Control[2] = {-1, -1};
int Pannel[2] = {-1, -1};

namespace {

pid_t gateway_pid = -1;

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
  char line[256];
  int length =
      std::snprintf(line, sizeof line, "RemoteControl: cannot execute: %s\n", std::strerror(errno));
  if (length > 0) {
    [[maybe_unused]] ssize_t ignored = write(2, line, static_cast<size_t>(length));
  }
  _exit(result);
}

// Polls for the child's exit for up to milliseconds; true with *status set once it has exited.
bool WaitFor(pid_t pid, int milliseconds, int* status) {
  const timespec pause = {0, 10 * 1000 * 1000};
  for (int waited = 0;; waited += 10) {
    pid_t result = waitpid(pid, status, WNOHANG);
    if (result == pid) return true;
    if (result < 0 && errno != EINTR) {
      *status = -1;
      return true;
    }
    if (waited >= milliseconds) return false;
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

void catch_the_remote_control() {
  pipe(Remote_Control);
  pipe(Pannel);
  pid_t pid = fork();
  if (pid == 0) BecomeGateway();
  // A failed fork (-1) takes this branch too: there is no gateway behind the pipes, so the first
  // command write fails and the first read meets end of input.
  gateway_pid = pid;
  if (pid < 0) {
    std::fprintf(stderr, "buyer: cannot start RemoteControl: %s\n", std::strerror(errno));
  }
  close(Remote_Control[0]);
  close(Pannel[1]);
  std::signal(SIGPIPE, SIG_IGN);
  InitWorld();
}

int EndGateway() {
  close(Remote_Control[1]);
  Remote_Control[1] = -1;
  if (gateway_pid <= 0) return -1;
  int status = 0;
  // A gateway sees end of input once the write end is closed and should exit at once; one that
  // does not is stopped, so the agent never hangs on it.
  if (!WaitFor(gateway_pid, 5000, &status)) {
    kill(gateway_pid, SIGTERM);
    if (!WaitFor(gateway_pid, 2000, &status)) {
      kill(gateway_pid, SIGKILL);
      while (waitpid(gateway_pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  gateway_pid = -1;
  return status;
}
