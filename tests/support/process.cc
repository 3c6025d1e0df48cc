#include "tests/support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double timeout_seconds, int reader_pause_ms) {
  ProcessResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    close(null);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  const auto deadline = start + std::chrono::duration<double>(timeout_seconds);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      if (i == 0 && reader_pause_ms > 0) usleep(static_cast<useconds_t>(reader_pause_ms) * 1000);
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  while (waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

int ExitCode(const ProcessResult& result) {
  return WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
}

int TermSignal(const ProcessResult& result) {
  return WIFSIGNALED(result.status) ? WTERMSIG(result.status) : 0;
}
