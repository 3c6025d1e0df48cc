#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int MillisLeft(Deadline deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// In the child: makes fd its descriptor `target`, open across exec.
void Install(int fd, int target) {
  if (fd == target) {
    fcntl(fd, F_SETFD, 0);
  } else {
    dup2(fd, target);
  }
}

// In the child: joins one standard stream as asked; false when a file cannot be opened.
bool Join(Stream how, int pipe_end, const std::string& path, int target) {
  switch (how) {
    case Stream::kInherit:
      return true;
    case Stream::kPipe:
      Install(pipe_end, target);
      return true;
    case Stream::kNull: {
      const int fd = open("/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
      if (fd < 0) return false;
      Install(fd, target);
      return true;
    }
    case Stream::kFile: {
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) return false;
      Install(fd, target);
      return true;
    }
  }
  return false;
}

void WriteText(int fd, const char* text) {
  const ssize_t n = write(fd, text, std::strlen(text));
  (void)n;
}

}  // namespace

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

Child Spawn(const SpawnOptions& options) {
  Child child;
  int in_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  const auto close_all = [&] {
    for (int* p : {in_pipe, out_pipe, err_pipe}) {
      CloseFd(&p[0]);
      CloseFd(&p[1]);
    }
  };
  if ((options.in == Stream::kPipe && pipe2(in_pipe, O_CLOEXEC) != 0) ||
      (options.out == Stream::kPipe && pipe2(out_pipe, O_CLOEXEC) != 0) ||
      (options.err == Stream::kPipe && pipe2(err_pipe, O_CLOEXEC) != 0) || options.argv.empty()) {
    close_all();
    return child;
  }
  std::vector<char*> args = Pointers(options.argv);
  std::vector<char*> envp;
  if (options.env) envp = Pointers(*options.env);
  const std::string program = options.search.empty() ? options.argv[0] : options.search;
  const pid_t pid = fork();
  if (pid < 0) {
    close_all();
    return child;
  }
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    if (!Join(options.in, in_pipe[0], "", 0) ||
        !Join(options.out, out_pipe[1], options.out_path, 1) ||
        !Join(options.err, err_pipe[1], options.err_path, 2)) {
      _exit(kCannotExecute);
    }
    if (!options.search.empty()) {
      if (options.env) {
        execvpe(program.c_str(), args.data(), envp.data());
      } else {
        execvp(program.c_str(), args.data());
      }
    } else if (options.env) {
      execve(program.c_str(), args.data(), envp.data());
    } else {
      execv(program.c_str(), args.data());
    }
    const char* reason = std::strerror(errno);
    WriteText(2, program.c_str());
    WriteText(2, ": cannot execute: ");
    WriteText(2, reason);
    WriteText(2, "\n");
    _exit(kCannotExecute);
  }
  child.pid = pid;
  CloseFd(&in_pipe[0]);
  CloseFd(&out_pipe[1]);
  CloseFd(&err_pipe[1]);
  child.in = in_pipe[1];
  child.out = out_pipe[0];
  child.err = err_pipe[0];
  return child;
}

bool WriteAll(int fd, const std::string& data) {
  if (fd < 0) return false;
  // SIGPIPE is held back while writing; one raised by a write here is taken off again, so the
  // caller's dispositions stay as they are.
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t old_mask;
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  sigset_t pending;
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  bool ok = true;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE && !was_pending) {
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
      }
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return ok;
}

Deadline After(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

bool Drain(Child& child, std::string* out, std::string* err, Deadline deadline,
           const DrainHooks& hooks) {
  while (child.out >= 0 || child.err >= 0) {
    if (Clock::now() >= deadline) {
      if (child.pid > 0) kill(child.pid, SIGKILL);
      return false;
    }
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    if (poll(fds, 2, MillisLeft(deadline)) < 0 && errno != EINTR) break;
    char buffer[65536];
    if (child.err >= 0 && fds[1].revents != 0) {
      const ssize_t n = read(child.err, buffer, sizeof buffer);
      if (n > 0) {
        if (err != nullptr) err->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        CloseFd(&child.err);
      }
    }
    if (child.out >= 0 && fds[0].revents != 0) {
      if (hooks.out_pause_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(hooks.out_pause_ms));
      }
      const ssize_t n = read(child.out, buffer, sizeof buffer);
      if (n > 0) {
        if (out != nullptr) out->append(buffer, static_cast<size_t>(n));
        if (hooks.on_out && !hooks.on_out(buffer, static_cast<size_t>(n))) CloseFd(&child.out);
      } else if (n == 0 || errno != EINTR) {
        CloseFd(&child.out);
        if (hooks.on_out) hooks.on_out(buffer, 0);
      }
    }
  }
  return true;
}

int Wait(Child& child, std::optional<Deadline> deadline, bool* timed_out) {
  CloseFd(&child.in);
  CloseFd(&child.out);
  CloseFd(&child.err);
  if (child.pid <= 0) return -1;
  int status = -1;
  for (;;) {
    const pid_t done = waitpid(child.pid, &status, deadline ? WNOHANG : 0);
    if (done == child.pid) break;
    if (done < 0) {
      if (errno == EINTR) continue;
      child.pid = -1;
      return -1;
    }
    if (Clock::now() >= *deadline) {
      if (timed_out != nullptr) *timed_out = true;
      kill(child.pid, SIGKILL);
      while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child.pid = -1;
  return status;
}

int ExitCodeOf(int wait_status) {
  return wait_status != -1 && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

int TermSignalOf(int wait_status) {
  return wait_status != -1 && WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
}

}  // namespace test_support

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double timeout_seconds, int reader_pause_ms) {
  ProcessResult result;
  const auto start = std::chrono::steady_clock::now();
  test_support::SpawnOptions options;
  options.argv = argv;
  options.env = env;
  test_support::Child child = test_support::Spawn(options);
  if (child.pid < 0) return result;
  test_support::DrainHooks hooks;
  hooks.out_pause_ms = reader_pause_ms;
  result.timed_out = !test_support::Drain(child, &result.out, &result.err,
                                          test_support::After(timeout_seconds), hooks);
  result.status = test_support::Wait(child);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

int ExitCode(const ProcessResult& result) { return test_support::ExitCodeOf(result.status); }

int TermSignal(const ProcessResult& result) { return test_support::TermSignalOf(result.status); }
