#include "gateway/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "wire/write_all.h"

namespace gateway::testing {
namespace {

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

ChildResult Converse(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const Conversation& conversation, double timeout_seconds) {
  // A child that stops reading must show as a failed write here, not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  ChildResult result;
  int in_pipe[2];
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    return result;
  }
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);  // the child starts as it would from a shell
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  int to_child = in_pipe[1];
  int from_out = out_pipe[0];
  int from_err = err_pipe[0];
  if (!wire::WriteAll(to_child, conversation.input) || conversation.close_input_at_once) {
    CloseFd(&to_child);
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
  std::string partial;
  int lines = 0;
  while (from_out >= 0 || from_err >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{from_out, POLLIN, 0}, {from_err, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    char buffer[65536];
    if (fds[1].revents != 0) {
      const ssize_t n = read(from_err, buffer, sizeof buffer);
      if (n > 0) {
        result.err.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        CloseFd(&from_err);
      }
    }
    if (fds[0].revents != 0) {
      const ssize_t n = read(from_out, buffer, sizeof buffer);
      if (n > 0) {
        result.out.append(buffer, static_cast<size_t>(n));
        partial.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
          const std::string line = partial.substr(0, end);
          partial.erase(0, end + 1);
          ++lines;
          if (conversation.respond && to_child >= 0) {
            if (!wire::WriteAll(to_child, conversation.respond(line))) CloseFd(&to_child);
          }
          if (lines == conversation.stop_reading_after) {
            CloseFd(&from_out);
            break;
          }
        }
      } else if (n == 0 || errno != EINTR) {
        CloseFd(&from_out);
        CloseFd(&to_child);  // the child's output ended: so does its input
      }
    }
  }
  CloseFd(&to_child);
  CloseFd(&from_out);
  CloseFd(&from_err);
  while (waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
  }
  return result;
}

int ExitStatus(const ChildResult& result) {
  return WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
}

}  // namespace gateway::testing
