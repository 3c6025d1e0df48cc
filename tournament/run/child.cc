#include "tournament/run/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace tournament {
namespace {

std::atomic<int> g_interrupted{0};

void OnSignal(int signal) { g_interrupted.store(signal); }

std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env = extra;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The keeper's side: everything from here to Keep runs in the forked keeper of a multi-threaded
// runner, so only async-signal-safe calls (system calls, no allocation).

// The signal a keeper takes as "end everything": from Child::Kill, and as its parent-death signal.
constexpr int kEndAll = SIGUSR1;
// Signals a keeper passes on to its program's process group.
constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t g_program = 0;  // in a keeper: its program

void ForwardToProgram(int signal) {
  if (g_program > 0) kill(-g_program, signal);
}

void KillProgram(int) {
  if (g_program > 0) {
    kill(-g_program, SIGKILL);
    kill(g_program, SIGKILL);  // also when it has left its process group
  }
}

// The parent of a process from /proc/PID/stat ("PID (NAME) STATE PPID ..."), or -1.
pid_t ParentOf(const char* pid) {
  char path[64] = "/proc/";
  size_t n = 6;
  for (const char* c = pid; *c != '\0' && n < 40; ++c) path[n++] = *c;
  const char tail[] = "/stat";
  for (const char c : tail) path[n++] = c;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[1024];
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return -1;
  ssize_t at = got - 1;
  while (at > 0 && text[at] != ')') --at;  // the name may hold anything, ')' included
  at += 4;                                 // ") S "
  if (at >= got) return -1;
  pid_t parent = 0;
  for (; at < got && text[at] >= '0' && text[at] <= '9'; ++at)
    parent = parent * 10 + (text[at] - '0');
  return parent;
}

struct DirEntry64 {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

// SIGKILL to every child of `self`; how many were found.
int KillChildren(pid_t self) {
  const int dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  int found = 0;
  alignas(8) char buffer[8192];
  for (;;) {
    const long n = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const DirEntry64*>(buffer + at);
      at += entry->reclen;
      bool digits = entry->name[0] != '\0';
      pid_t pid = 0;
      for (const char* c = entry->name; *c != '\0' && digits; ++c) {
        digits = *c >= '0' && *c <= '9';
        pid = pid * 10 + (*c - '0');
      }
      // A child cannot be reaped by anyone else, so its process id is not reused meanwhile.
      if (digits && ParentOf(entry->name) == self) {
        kill(pid, SIGKILL);
        ++found;
      }
    }
  }
  close(dir);
  return found;
}

// Kills and reaps every process below the keeper: each round kills its children, whose own
// children then become the keeper's (it is a subreaper), until none is left.
void EndDescendants(pid_t self) {
  int unseen = 0;
  for (;;) {
    const int found = KillChildren(self);
    int status = 0;
    const pid_t reaped = waitpid(-1, &status, found > 0 ? 0 : WNOHANG);
    if (reaped < 0 && errno == ECHILD) return;
    if (reaped == 0) {
      // A child that /proc does not show: wait a little for it, then leave it.
      if (++unseen > 200) return;
      const timespec pause{0, 5'000'000};
      nanosleep(&pause, nullptr);
    }
  }
}

[[noreturn]] void EndAs(int status) {
  if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
  const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL;
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  kill(getpid(), signal);
  _exit(128 + signal);
}

struct Prepared {
  char** argv;
  char** env;
  const char* cwd;  // null: the runner's
  int in, out, err;
};

// The keeper: starts the program, waits for it, then ends everything below it. Starts with every
// signal blocked (as the runner's thread forked it).
[[noreturn]] void Keep(const Prepared& p, pid_t runner) {
  setpgid(0, 0);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  prctl(PR_SET_PDEATHSIG, kEndAll);
  if (getppid() != runner) _exit(127);  // the runner is gone already
  struct sigaction action {};
  sigfillset(&action.sa_mask);
  action.sa_handler = ForwardToProgram;
  for (const int signal : kForwarded) sigaction(signal, &action, nullptr);
  action.sa_handler = KillProgram;
  sigaction(kEndAll, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
  const pid_t keeper = getpid();
  const pid_t program = fork();
  if (program == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != keeper) _exit(127);
    action.sa_handler = SIG_DFL;
    for (const int signal : kForwarded) sigaction(signal, &action, nullptr);
    sigaction(kEndAll, &action, nullptr);
    sigaction(SIGPIPE, &action, nullptr);
    sigaction(SIGXFSZ, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(p.in, 0);
    dup2(p.out, 1);
    dup2(p.err, 2);
    if (p.cwd != nullptr && chdir(p.cwd) != 0) _exit(127);
    execvpe(p.argv[0], p.argv, p.env);
    _exit(127);
  }
  if (program < 0) _exit(127);
  setpgid(program, program);
  g_program = program;
  // Nothing of the runner's stays open here: not the program's files, nor the database, nor the
  // pipes of other sessions' programs, whose ends would otherwise stay open as long as this lives.
  if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
    close(p.in);
    close(p.out);
    close(p.err);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);  // what came meanwhile is handled now
  int status = 0;
  for (;;) {
    int s = 0;
    const pid_t reaped = waitpid(-1, &s, 0);
    if (reaped == program) {
      status = s;
      break;
    }
    if (reaped < 0 && errno == ECHILD) break;  // cannot happen: the program is a child
  }
  EndDescendants(keeper);
  EndAs(status);
}

}  // namespace

Child::Child(const LaunchPlan& plan) {
  if (plan.argv.empty()) throw std::runtime_error("no program to start");
  std::vector<std::string> argv = plan.argv;
  std::vector<std::string> env = Environment(plan.env);
  std::vector<char*> argv_p = Pointers(argv);
  std::vector<char*> env_p = Pointers(env);
  const int out = open(plan.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err_pipe[2] = {-1, -1};
  int err = -1;
  if (plan.stderr_pipe) {
    if (pipe2(err_pipe, O_CLOEXEC) != 0) err_pipe[0] = err_pipe[1] = -1;
    err = err_pipe[1];
  } else {
    err = open(plan.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || err < 0 || in < 0) {
    for (int fd : {out, err_pipe[0], err, in}) {
      if (fd >= 0) close(fd);
    }
    throw std::runtime_error("cannot open the files of " + plan.argv[0] + ": " +
                             std::strerror(errno));
  }
  const Prepared prepared{
      argv_p.data(), env_p.data(), plan.cwd.empty() ? nullptr : plan.cwd.c_str(), in, out, err};
  const pid_t runner = getpid();
  // Every signal blocked until the keeper has its handlers and knows its program.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_ = fork();
  if (pid_ == 0) {
    if (err_pipe[0] >= 0) close(err_pipe[0]);
    Keep(prepared, runner);
  }
  const int fork_errno = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(in);
  close(out);
  close(err);
  if (pid_ < 0) {
    if (err_pipe[0] >= 0) close(err_pipe[0]);
    throw std::runtime_error("cannot start " + plan.argv[0] + ": " + std::strerror(fork_errno));
  }
  setpgid(pid_, pid_);  // also here, so the group exists before either side goes on
  stderr_fd_ = err_pipe[0];
  if (stderr_fd_ >= 0) fcntl(stderr_fd_, F_SETFL, fcntl(stderr_fd_, F_GETFL) | O_NONBLOCK);
}

Child::~Child() {
  if (!exited_) Kill();
  if (stderr_fd_ >= 0) close(stderr_fd_);
}

void Child::Record(int status) {
  exited_ = true;
  if (WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) exit_signal_ = WTERMSIG(status);
}

bool Child::Exited() {
  if (exited_) return true;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) Record(status);
  return exited_;
}

void Child::Signal(int signal) {
  if (!exited_) kill(pid_, signal);  // the keeper passes it on
}

void Child::Kill() {
  if (exited_) return;
  kill(pid_, kEndAll);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  Record(status);
}

void Child::DrainStderr(const std::function<void(std::string_view)>& sink) {
  if (stderr_fd_ < 0) return;
  char buffer[4096];
  for (size_t total = 0; total < (size_t{1} << 20);) {
    const ssize_t n = read(stderr_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    sink(std::string_view(buffer, static_cast<size_t>(n)));
    total += static_cast<size_t>(n);
  }
}

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int Interrupted() { return g_interrupted.load(); }

}  // namespace tournament
