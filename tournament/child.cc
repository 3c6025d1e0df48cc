#include "tournament/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!plan.cwd.empty() && chdir(plan.cwd.c_str()) != 0) _exit(127);
    execvpe(argv_p[0], argv_p.data(), env_p.data());
    _exit(127);
  }
  const int fork_errno = errno;
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
  // Whatever it left behind in its group (a gateway it started) goes with it.
  kill(-pid_, SIGKILL);
}

bool Child::Exited() {
  if (exited_) return true;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) Record(status);
  return exited_;
}

void Child::Signal(int signal) {
  if (!exited_) kill(-pid_, signal);
}

void Child::Kill() {
  if (exited_) return;
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  Record(status);
}

void Child::DrainStderr(std::string& tail, size_t keep) {
  if (stderr_fd_ < 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(stderr_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    tail.append(buffer, static_cast<size_t>(n));
    if (tail.size() > keep) tail.erase(0, tail.size() - keep);
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
