#include "checker/probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>

namespace checker {
namespace {

int MillisUntil(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(left.count(), 60'000)));
}

// Quoted for sh: inside single quotes, a single quote is written '\''.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Whether process `pid` exists and has not ended (a zombie has). Read with plain system calls: a
// process reaped while its /proc file is read fails the read, which a stream would throw on.
bool Running(pid_t pid) {
  if (kill(pid, 0) != 0) return false;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[1024];  // "PID (NAME) STATE ...": the state comes well within it
  const ssize_t got = read(fd, text, sizeof text);
  close(fd);
  if (got <= 0) return false;
  const std::string_view stat(text, static_cast<size_t>(got));
  const size_t paren = stat.rfind(')');  // the name may hold anything, ')' included
  return paren == std::string_view::npos || paren + 2 >= stat.size() || stat[paren + 2] != 'Z';
}

}  // namespace

std::optional<Stage> Stage::Make(const std::string& gateway, std::string* error) {
  // Gateways orphaned by the agent become this process's children, to be reaped and counted.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  Stage stage;
  char dir[] = "/tmp/agent-check.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    *error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
    return std::nullopt;
  }
  stage.dir_ = dir;
  stage.listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (stage.listener_ < 0 ||
      bind(stage.listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(stage.listener_, 8) != 0 ||
      getsockname(stage.listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    *error = std::string("cannot listen on the loopback: ") + std::strerror(errno);
    return std::nullopt;
  }
  const std::string script = stage.dir_ + "/RemoteControl";
  std::ofstream out(script);
  out << "#!/bin/sh\n"
      << "# agent-check's gateway: records itself, then relays to the checker's market.\n"
      << "printf '%s %s:%s\\n' \"$$\" \"$#\" \"$*\" >> " << Quoted(stage.gateways_file()) << "\n"
      << "MARKET_ADDRESS=127.0.0.1:" << ntohs(address.sin_port) << " exec " << Quoted(gateway)
      << " \"$@\"\n";
  out.close();
  if (!out || chmod(script.c_str(), 0755) != 0) {
    *error = "cannot write " + script;
    return std::nullopt;
  }
  return stage;
}

Stage::Stage(Stage&& other) noexcept
    : dir_(std::move(other.dir_)), listener_(std::exchange(other.listener_, -1)) {
  other.dir_.clear();
}

Stage::~Stage() {
  if (listener_ >= 0) close(listener_);
  if (dir_.empty()) return;
  for (const char* name : {"/RemoteControl", "/gateways", "/agent.out"}) {
    unlink((dir_ + name).c_str());
  }
  rmdir(dir_.c_str());
}

Probe::Probe(const Stage& stage, const std::vector<std::string>& argv) : stage_(stage) {
  unlink(stage.gateways_file().c_str());
  const std::string path = stage.dir() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
  const int out =
      open((stage.dir() + "/agent.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    setenv("PATH", path.c_str(), 1);
    execvp(args[0], args.data());
    const std::string why = "agent-check: cannot run " + argv[0] + ": " + std::strerror(errno);
    [[maybe_unused]] ssize_t ignored = write(2, why.data(), why.size());
    _exit(127);
  }
  if (pid_ > 0) setpgid(pid_, pid_);
  if (out >= 0) close(out);
  if (null >= 0) close(null);
}

Probe::~Probe() {
  if (socket_ >= 0) close(socket_);
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    for (const Gateway& g : Gateways()) {
      if (Running(g.pid)) kill(g.pid, SIGKILL);
    }
    if (!status_) waitpid(pid_, nullptr, 0);
    GatewaysLeft(Clock::now() + std::chrono::seconds(1));
  }
  // A gateway that connected late is turned away, so the next run's connection is its own.
  const int flags = fcntl(stage_.listener(), F_GETFL);
  fcntl(stage_.listener(), F_SETFL, flags | O_NONBLOCK);
  for (int fd; (fd = accept(stage_.listener(), nullptr, nullptr)) >= 0;) close(fd);
  fcntl(stage_.listener(), F_SETFL, flags);
}

bool Probe::Accept(Seconds wait) {
  pollfd p{stage_.listener(), POLLIN, 0};
  const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(wait);
  while (poll(&p, 1, MillisUntil(until)) > 0) {
    socket_ = accept4(stage_.listener(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (socket_ >= 0) return true;
  }
  return false;
}

bool Probe::Send(const std::string& line) {
  if (socket_ < 0) return false;
  const std::string data = line + "\n";
  size_t sent = 0;
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (sent < data.size()) {
    const ssize_t n = send(socket_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{socket_, POLLOUT, 0};
    if (poll(&p, 1, MillisUntil(until)) <= 0) return false;  // the agent takes nothing
  }
  return true;
}

void Probe::EndOutput() {
  if (socket_ >= 0) shutdown(socket_, SHUT_WR);
}

std::optional<Received> Probe::Next(Clock::time_point until) {
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (skipping_) {
        skipping_ = false;
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return Received{std::move(line), Clock::now(), false};
    }
    if (!skipping_ && buffer_.size() > kMaxCommandLine) {
      Received overlong{buffer_.substr(0, 80), Clock::now(), true};
      buffer_.clear();
      skipping_ = true;
      return overlong;
    }
    if (skipping_) buffer_.clear();
    if (socket_ < 0 || input_ended_) return std::nullopt;
    pollfd p{socket_, POLLIN, 0};
    if (poll(&p, 1, MillisUntil(until)) <= 0) return std::nullopt;
    char chunk[65536];
    const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      input_ended_ = true;
      return std::nullopt;
    }
  }
}

void Probe::Reap() {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(-1, &status, WNOHANG);
    if (done <= 0) return;
    if (done == pid_) status_ = status;
  }
}

std::optional<int> Probe::WaitExit(Clock::time_point until) {
  for (;;) {
    Reap();
    if (status_ || pid_ <= 0 || Clock::now() >= until) return status_;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<Probe::Gateway> Probe::Gateways() const {
  std::vector<Gateway> gateways;
  std::ifstream in(stage_.gateways_file());
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    Gateway g;
    words >> g.pid;
    std::getline(words >> std::ws, g.args);
    if (g.pid > 0) gateways.push_back(g);
  }
  return gateways;
}

std::vector<pid_t> Probe::GatewaysLeft(Clock::time_point until) {
  for (;;) {
    Reap();
    std::vector<pid_t> left;
    for (const Gateway& g : Gateways()) {
      if (Running(g.pid)) left.push_back(g.pid);
    }
    if (left.empty() || Clock::now() >= until) return left;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace checker
