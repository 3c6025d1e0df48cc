#include "gateway/agent_watch.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gateway {
namespace {

// The processes of a tree looked at, at most: deeper or wider trees are taken as busy.
constexpr int kMaxDepth = 16;

// Reads a small /proc file whole into buf (NUL-terminated); its length, or -1.
ssize_t ReadSmall(const char* path, char* buf, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n;
  do {
    n = read(fd, buf, size - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  buf[n < 0 ? 0 : n] = '\0';
  return n;
}

// The bytes waiting in a pipe, whichever end fd is; -1 when it cannot be asked.
int Unread(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// The state letter of /proc/PID/task/TID/stat (after the command's closing parenthesis), or 0
// when the thread is gone.
char ThreadState(pid_t pid, pid_t tid) {
  char path[64];
  char buf[512];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/stat", pid, tid);
  if (ReadSmall(path, buf, sizeof buf) <= 0) return 0;
  const char* close_paren = std::strrchr(buf, ')');
  if (close_paren == nullptr || close_paren[1] != ' ') return 0;
  return close_paren[2];
}

// The thread's CPU time so far in nanoseconds (the first field of schedstat), or 0 when the
// kernel does not keep it.
uint64_t Runtime(pid_t pid, pid_t tid) {
  char path[64];
  char buf[128];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/schedstat", pid, tid);
  if (ReadSmall(path, buf, sizeof buf) <= 0) return 0;
  return std::strtoull(buf, nullptr, 10);
}

enum class Sleep { kWaiting, kTimed, kUnknown };

#if defined(__x86_64__)
// From /proc/PID/task/TID/syscall ("NR ARG1 ... ARG6 SP PC", readable where the kernel lets this
// process trace the agent): whether the system call the thread sleeps in has a timeout.
Sleep SleepFromSyscall(pid_t pid, pid_t tid) {
  char path[64];
  char buf[256];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/syscall", pid, tid);
  if (ReadSmall(path, buf, sizeof buf) <= 0) return Sleep::kUnknown;
  char* p = buf;
  const long nr = std::strtol(p, &p, 10);
  unsigned long long arg[6] = {};
  for (unsigned long long& a : arg) a = std::strtoull(p, &p, 16);
  const auto as_int = [](unsigned long long v) {
    return static_cast<int>(static_cast<int32_t>(v));
  };
  switch (nr) {
    case 35:   // nanosleep
    case 230:  // clock_nanosleep
      return Sleep::kTimed;
    case 7:  // poll
      return as_int(arg[2]) >= 0 ? Sleep::kTimed : Sleep::kWaiting;
    case 232:  // epoll_wait
    case 281:  // epoll_pwait
      return as_int(arg[3]) >= 0 ? Sleep::kTimed : Sleep::kWaiting;
    case 271:  // ppoll
      return arg[2] != 0 ? Sleep::kTimed : Sleep::kWaiting;
    case 23:   // select
    case 270:  // pselect6
      return arg[4] != 0 ? Sleep::kTimed : Sleep::kWaiting;
    case 441:  // epoll_pwait2
      return arg[3] != 0 ? Sleep::kTimed : Sleep::kWaiting;
    case 128:  // rt_sigtimedwait
      return arg[2] != 0 ? Sleep::kTimed : Sleep::kWaiting;
    case 202: {  // futex: FUTEX_WAIT and FUTEX_WAIT_BITSET carry a timeout in the fourth argument
      const unsigned long long op = arg[1] & 0x7f;
      if (op == 0 || op == 9) return arg[3] != 0 ? Sleep::kTimed : Sleep::kWaiting;
      return Sleep::kWaiting;
    }
    default:
      return nr >= 0 ? Sleep::kWaiting : Sleep::kUnknown;
  }
}
#else
Sleep SleepFromSyscall(pid_t, pid_t) { return Sleep::kUnknown; }
#endif

// From /proc/PID/task/TID/wchan, always readable by the same user: a sleep in nanosleep.
Sleep SleepFromWchan(pid_t pid, pid_t tid) {
  char path[64];
  char buf[128];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/wchan", pid, tid);
  if (ReadSmall(path, buf, sizeof buf) <= 0) return Sleep::kUnknown;
  return std::strstr(buf, "nanosleep") != nullptr ? Sleep::kTimed : Sleep::kWaiting;
}

bool TimedSleep(pid_t pid, pid_t tid) {
  const Sleep sleep = SleepFromSyscall(pid, tid);
  if (sleep != Sleep::kUnknown) return sleep == Sleep::kTimed;
  return SleepFromWchan(pid, tid) == Sleep::kTimed;
}

// The process's parent, from /proc/PID/stat; 0 when unknown.
pid_t ParentOf(pid_t pid) {
  char path[64];
  char buf[512];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  if (ReadSmall(path, buf, sizeof buf) <= 0) return 0;
  const char* close_paren = std::strrchr(buf, ')');
  if (close_paren == nullptr) return 0;
  char state = 0;
  int parent = 0;
  if (std::sscanf(close_paren + 1, " %c %d", &state, &parent) != 2) return 0;
  return parent;
}

// Whether process pid holds a descriptor on the pipe with this inode.
bool HoldsPipe(pid_t pid, ino_t inode) {
  char dir_path[64];
  std::snprintf(dir_path, sizeof dir_path, "/proc/%d/fd", pid);
  DIR* dir = opendir(dir_path);
  if (dir == nullptr) return false;
  char want[64];
  std::snprintf(want, sizeof want, "pipe:[%llu]", static_cast<unsigned long long>(inode));
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    char link_path[384];
    char target[64];
    std::snprintf(link_path, sizeof link_path, "%s/%s", dir_path, entry->d_name);
    const ssize_t n = readlink(link_path, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::strcmp(target, want) == 0) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool IsPipe(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

bool ThreadLook::Take(pid_t root, pid_t self) {
  marks_.clear();
  return TakeProcess(root, self, 0);
}

bool ThreadLook::TakeProcess(pid_t pid, pid_t self, int depth) {
  if (depth > kMaxDepth) return false;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/task", pid);
  DIR* dir = opendir(path);
  if (dir == nullptr) return errno == ENOENT;  // the process has gone: nothing of it is busy
  std::vector<pid_t> children;
  bool asleep = true;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
    const char state = ThreadState(pid, tid);
    if (state == 0 || state == 'Z' || state == 'X') continue;  // gone, or gone but not reaped
    if (state != 'S' || TimedSleep(pid, tid) || marks_.size() >= kMaxThreads) {
      asleep = false;
      break;
    }
    marks_.push_back({tid, Runtime(pid, tid)});
    char children_path[80];
    char buf[512];
    std::snprintf(children_path, sizeof children_path, "/proc/%d/task/%d/children", pid, tid);
    if (ReadSmall(children_path, buf, sizeof buf) > 0) {
      char* p = buf;
      for (;;) {
        char* end = nullptr;
        const long child = std::strtol(p, &end, 10);
        if (end == p) break;
        p = end;
        if (child != self) children.push_back(static_cast<pid_t>(child));
      }
    }
  }
  closedir(dir);
  if (!asleep) return false;
  for (const pid_t child : children) {
    if (!TakeProcess(child, self, depth + 1)) return false;
  }
  return true;
}

pid_t AgentWatch::getpid_() { return getpid(); }

std::optional<pid_t> AgentWatch::FindAgent(int from_agent, std::string* why) {
  struct stat st {};
  if (fstat(from_agent, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    *why = "the agent's input is not a pipe";
    return std::nullopt;
  }
  pid_t pid = getppid();
  for (int i = 0; i < 8 && pid > 1; ++i) {
    if (HoldsPipe(pid, st.st_ino)) return pid;
    pid = ParentOf(pid);
  }
  *why = "no parent process holds the agent's pipe";
  return std::nullopt;
}

std::optional<AgentWatch> AgentWatch::Open(pid_t agent, int to_agent, int from_agent,
                                           std::string* why) {
  if (!IsPipe(to_agent) || !IsPipe(from_agent) || Unread(to_agent) < 0 || Unread(from_agent) < 0) {
    *why = "the agent is not on pipes";
    return std::nullopt;
  }
  char path[64];
  char buf[512];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/stat", agent, agent);
  if (ReadSmall(path, buf, sizeof buf) <= 0) {
    *why = "the agent's threads cannot be read in /proc";
    return std::nullopt;
  }
  return AgentWatch(agent, to_agent, from_agent);
}

bool AgentWatch::PipesEmpty() const { return Unread(to_agent_) == 0 && Unread(from_agent_) == 0; }

bool AgentWatch::Idle() {
  if (!PipesEmpty() || !first_.Take(agent_, self_)) return false;
  if (!PipesEmpty() || !second_.Take(agent_, self_)) return false;
  return first_ == second_;
}

}  // namespace gateway
