#include "tests/network/net_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace nettest {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int MillisLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

Process Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& dir, const std::string& name) {
  Process process;
  process.out_path = dir + "/" + name + ".out";
  process.err_path = dir + "/" + name + ".err";
  test_support::SpawnOptions options;
  options.argv = argv;
  options.env = env;
  options.out = test_support::Stream::kFile;
  options.out_path = process.out_path;
  options.err = test_support::Stream::kFile;
  options.err_path = process.err_path;
  process.pid = test_support::Spawn(options).pid;
  return process;
}

int Wait(Process& process, double timeout_seconds) {
  if (process.pid < 0) return -1;
  test_support::Child child;
  child.pid = process.pid;
  process.pid = -1;
  bool timed_out = false;
  const int status = test_support::Wait(child, test_support::After(timeout_seconds), &timed_out);
  if (timed_out) ADD_FAILURE() << "killed after " << timeout_seconds << " s: " << process.out_path;
  return timed_out ? -1 : test_support::ExitCodeOf(status);
}

std::vector<std::string> SanitizerEnv() {
  std::vector<std::string> env;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

Server StartServer(const std::string& scenario_path, const std::string& dir,
                   const std::vector<std::string>& extra) {
  Server server;
  server.results_path = dir + "/results.json";
  const std::string port_file = dir + "/port";
  std::vector<std::string> argv = {
      MARKETD_PATH,           "--scenario", scenario_path, "--listen",          "127.0.0.1:0",
      "--port-file",          port_file,    "--results",   server.results_path, "--transcript",
      dir + "/transcript.txt"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  server.process = Spawn(argv, SanitizerEnv(), dir, "marketd");
  const auto deadline = After(20);
  while (Clock::now() < deadline) {
    const std::string text = ReadFile(port_file);
    if (!text.empty()) {
      server.port = static_cast<uint16_t>(std::stoi(text));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NE(server.port, 0) << ReadFile(server.process.err_path);
  return server;
}

Client::Client(uint16_t port, int receive_buffer) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  if (receive_buffer > 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

Client::~Client() { Close(); }

void Client::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool Client::Send(const std::string& bytes) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

std::optional<std::string> Client::ReadLine(double timeout_seconds) {
  const auto deadline = After(timeout_seconds);
  for (;;) {
    const size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    if (fd_ < 0 || ended_) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, MillisLeft(deadline));
    if (ready == 0) return std::nullopt;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    char chunk[65536];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      ended_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::vector<std::string> Client::ReadUntilClosed(double timeout_seconds, bool* closed) {
  const auto deadline = After(timeout_seconds);
  std::vector<std::string> lines;
  while (Clock::now() < deadline) {
    std::optional<std::string> line = ReadLine(MillisLeft(deadline) / 1000.0);
    if (line) {
      lines.push_back(*line);
      continue;
    }
    if (ended_) break;
  }
  *closed = ended_;
  return lines;
}

}  // namespace nettest
