#include "tournament/run/process_session.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "tournament/db/results_reader.h"
#include "tournament/run/child.h"
#include "tournament/run/masked_tail.h"

namespace tournament {
namespace {

using Clock = std::chrono::steady_clock;

// The file's bytes; empty when it cannot be read whole (a stream throws on a read that fails).
std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  try {
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  } catch (const std::ios_base::failure&) {
    return {};
  }
}

// The session's loop looks at its processes at least this often, and at once when one of them
// ends or an agent writes to its standard error.
constexpr int kLookEveryMs = 10;

// The wait for marketd's port file: the first looks close together (marketd listens within a few
// milliseconds), doubling up to kLookEveryMs.
constexpr auto kFirstPortWait = std::chrono::microseconds(200);

// A process's end as a descriptor that polls readable (a pidfd); closed with it. Invalid where the
// kernel has no pidfd_open: the loop then looks every kLookEveryMs only.
class ExitFd {
 public:
  ExitFd() = default;
  explicit ExitFd(pid_t pid) {
#ifdef SYS_pidfd_open
    fd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
#endif
  }
  ~ExitFd() {
    if (fd_ >= 0) close(fd_);
  }
  ExitFd(ExitFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ExitFd& operator=(ExitFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Whether marketd's transcript shows an admission accepted: a line "SECONDS > #ID accept".
bool AnyoneAdmitted(const std::string& transcript) {
  size_t at = 0;
  while ((at = transcript.find(" > #", at)) != std::string::npos) {
    at += 4;
    size_t end = at;
    while (end < transcript.size() && transcript[end] >= '0' && transcript[end] <= '9') ++end;
    if (end > at && transcript.compare(end, 8, " accept\n") == 0) return true;
  }
  return false;
}

struct Agent {
  const Entry* entry = nullptr;
  std::unique_ptr<Child> child;
  MaskedTail tail;      // of its standard error, the password masked
  bool killed = false;  // still running when the runner ended it
  std::string start_error;
  ExitFd exit_fd;
  bool stderr_hung_up = false;  // every writer of its standard error has closed it
};

// Waits until a process of the session that still runs ends, an agent writes to its standard
// error, or kLookEveryMs has passed.
void WaitForChange(Child& server, const ExitFd& server_exit, std::vector<Agent>& agents) {
  std::vector<pollfd> fds;
  std::vector<Agent*> stderr_of;  // the agent of each stderr entry in fds, after the exits
  if (!server.Exited() && server_exit.fd() >= 0) fds.push_back({server_exit.fd(), POLLIN, 0});
  for (Agent& a : agents) {
    if (!a.child || a.child->Exited()) continue;
    if (a.exit_fd.fd() >= 0) fds.push_back({a.exit_fd.fd(), POLLIN, 0});
  }
  const size_t first_stderr = fds.size();
  for (Agent& a : agents) {
    if (!a.child || a.child->Exited() || a.stderr_hung_up || a.child->stderr_fd() < 0) continue;
    fds.push_back({a.child->stderr_fd(), POLLIN, 0});
    stderr_of.push_back(&a);
  }
  if (::poll(fds.data(), fds.size(), kLookEveryMs) <= 0) return;
  for (size_t i = first_stderr; i < fds.size(); ++i) {
    // Drained by the loop; polled no more once closed, or the poll would return at once.
    if ((fds[i].revents & (POLLHUP | POLLERR)) != 0 && (fds[i].revents & POLLIN) == 0) {
      stderr_of[i - first_stderr]->stderr_hung_up = true;
    }
  }
}

}  // namespace

void RunProcessSession(const SessionScenario& scenario, uint64_t seed, const Lineup& lineup,
                       const ProcessSettings& settings, SessionRecord& record) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(settings.deadline_ms);
  record.virtual_time = false;
  record.clock = settings.stepped ? "stepped" : "real";
  record.started_us = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const std::string dir = settings.work_dir;
  const std::string scenario_path = dir + "/scenario.toml";
  const std::string port_path = dir + "/port";
  const std::string results_path = dir + "/results.json";
  const std::string transcript_path = dir + "/transcript";
  std::ofstream(scenario_path, std::ios::binary) << scenario.text;

  LaunchPlan server_plan;
  server_plan.argv = {settings.bin_dir + "/marketd",
                      "--scenario",
                      scenario_path,
                      "--listen",
                      "127.0.0.1:0",
                      "--port-file",
                      port_path,
                      "--seed",
                      std::to_string(seed),
                      "--results",
                      results_path,
                      "--transcript",
                      transcript_path,
                      "--clock",
                      record.clock};
  server_plan.stderr_path = dir + "/marketd.err";
  std::string failure;
  std::unique_ptr<Child> server;
  try {
    server = std::make_unique<Child>(server_plan);
  } catch (const std::exception& e) {
    failure = e.what();
  }

  // The port, once marketd listens.
  std::string port;
  auto port_wait = std::chrono::duration_cast<std::chrono::nanoseconds>(kFirstPortWait);
  while (server && port.empty() && failure.empty()) {
    port = ReadWhole(port_path);
    while (!port.empty() && (port.back() == '\n' || port.back() == ' ')) port.pop_back();
    if (!port.empty()) break;
    if (server->Exited()) failure = "marketd exited before listening";
    if (Clock::now() > deadline) failure = "marketd did not listen before the deadline";
    if (Interrupted()) failure = "interrupted";
    std::this_thread::sleep_for(port_wait);
    port_wait =
        std::min<std::chrono::nanoseconds>(port_wait * 2, std::chrono::milliseconds(kLookEveryMs));
  }

  const ExitFd server_exit = server && failure.empty() ? ExitFd(server->pid()) : ExitFd();
  const auto listening = Clock::now();
  std::vector<Agent> agents;
  if (failure.empty()) {
    const char* path = std::getenv("PATH");
    for (const Entry& entry : lineup.entries) {
      if (!entry.IsProcess()) continue;
      Agent agent{&entry, nullptr, MaskedTail(entry.password, kStderrTail), false, "", {}, false};
      LaunchPlan plan;
      plan.argv = entry.kind == Entry::Kind::kBuyer
                      ? std::vector<std::string>{settings.bin_dir + "/buyer"}
                      : entry.argv;
      plan.env = {"PATH=" + settings.bin_dir + (path ? ":" + std::string(path) : ""),
                  "MARKET_ADDRESS=127.0.0.1:" + port, "MARKET_CLOCK=" + record.clock};
      plan.cwd = settings.agent_cwd;
      plan.stderr_pipe = true;
      try {
        agent.child = std::make_unique<Child>(plan);
        agent.exit_fd = ExitFd(agent.child->pid());
      } catch (const std::exception& e) {
        agent.start_error = e.what();
      }
      agents.push_back(std::move(agent));
    }
  }

  // Until the market and every agent are done, the deadline passes or the runner is interrupted.
  std::optional<Clock::time_point> market_done;
  bool server_stopped = false;
  // Once the admission window has passed (and the margin), the transcript tells whether any
  // agent is in.
  bool looked = false;
  bool nobody_admitted = false;
  const auto look_at = listening + std::chrono::milliseconds(settings.admission_ms) +
                       std::chrono::milliseconds(settings.admission_margin_ms);
  while (server && failure.empty()) {
    bool agents_done = true;
    for (Agent& a : agents) {
      if (!a.child) continue;
      a.child->DrainStderr([&a](std::string_view data) { a.tail.Append(data); });
      agents_done = a.child->Exited() && agents_done;
    }
    const bool server_done = server->Exited();
    if (server_done && !market_done) market_done = Clock::now();
    if (server_done && agents_done) break;
    const auto now = Clock::now();
    if (!looked && !server_done && !server_stopped && now > look_at) {
      looked = true;
      nobody_admitted = !AnyoneAdmitted(ReadWhole(transcript_path));
    }
    if (nobody_admitted && !server_stopped) {
      // No market will open without an agent: ended now rather than at the deadline.
      server->Signal(SIGTERM);
      server_stopped = true;
      record.detail = "no agent logged in during the admission window";
      for (Agent& a : agents) {
        if (a.child && !a.child->Exited()) {
          a.child->Kill();
          a.killed = true;
        }
      }
    }
    const bool late = now > deadline || Interrupted() != 0;
    if ((agents_done && !server_done && !server_stopped) || (late && !server_stopped)) {
      // No agent left to serve, or out of time: marketd still writes its results on SIGTERM.
      server->Signal(SIGTERM);
      server_stopped = true;
      if (late) record.detail = Interrupted() ? "interrupted" : "deadline passed";
    }
    const bool agents_overdue =
        market_done && now > *market_done + std::chrono::milliseconds(settings.grace_ms);
    if (late || agents_overdue) {
      for (Agent& a : agents) {
        if (a.child && !a.child->Exited()) {
          a.child->Kill();
          a.killed = true;
        }
      }
    }
    if (late && server_stopped && now > deadline + std::chrono::seconds(2)) server->Kill();
    WaitForChange(*server, server_exit, agents);
  }
  for (Agent& a : agents) {
    if (a.child) a.child->DrainStderr([&a](std::string_view data) { a.tail.Append(data); });
  }
  const std::string detail = record.detail;
  if (failure.empty()) {
    const std::string results = ReadWhole(results_path);
    const std::string fault =
        results.empty() ? "marketd wrote no results" : ReadResults(results, lineup, record);
    if (!fault.empty()) failure = fault;
  }
  if (!failure.empty()) {
    StartRecord(lineup, record);
    record.outcome = "failed";
    record.detail = failure;
  } else if (!detail.empty()) {
    record.detail = detail;
  }
  size_t index = 0;
  for (ParticipantRow& row : record.participants) {
    if (row.kind == "builtin") continue;
    if (index >= agents.size()) {
      row.status = "not_started";
      continue;
    }
    Agent& a = agents[index++];
    row.stderr_tail = a.tail.Text();
    if (!a.child) {
      row.status = "crashed";
      row.stderr_tail = a.start_error;
      continue;
    }
    row.exit_code = a.child->exit_code();
    row.exit_signal = a.child->exit_signal();
    if (a.killed && nobody_admitted) {
      row.status = "no_login";
    } else if (a.killed) {
      row.status = "timeout";
    } else if (row.exit_signal || (row.exit_code && *row.exit_code != 0)) {
      row.status = "crashed";
    } else if (!row.logged_in) {
      row.status = "no_login";
    } else {
      row.status = "ok";
    }
  }
  record.duration_us =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

}  // namespace tournament
