#include "bench/bench_support.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "tests/support/process.h"

namespace bench {

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

int64_t EnvInt(const char* name, int64_t fallback) {
  std::string text = Env(name);
  if (text.empty()) return fallback;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0') return fallback;
  return value;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  data->clear();
  off_t size = lseek(fd, 0, SEEK_END);
  lseek(fd, 0, SEEK_SET);
  if (size > 0) data->reserve(static_cast<size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), std::strerror(errno));
      close(fd);
      return false;
    }
    if (n == 0) break;
    data->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data.data(), data.size());
  return close(fd) == 0 && ok;
}

bool AppendLine(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string text = line + "\n";
  bool ok = WriteAll(fd, text.data(), text.size());
  return close(fd) == 0 && ok;
}

int64_t PeakResidentKb(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  std::string status;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) status.append(buffer, static_cast<size_t>(n));
  close(fd);
  size_t at = status.find("VmHWM:");
  if (at == std::string::npos) return -1;
  return std::strtoll(status.c_str() + at + 6, nullptr, 10);
}

pid_t StartGateway(int* to_gateway, int* from_gateway) {
  test_support::SpawnOptions options;
  options.argv = {"../RemoteControl", "CLogin"};
  options.search = "RemoteControl";
  options.in = test_support::Stream::kPipe;
  options.out = test_support::Stream::kPipe;
  options.err = test_support::Stream::kInherit;
  test_support::Child child = test_support::Spawn(options);
  if (child.pid < 0) return -1;
  std::signal(SIGPIPE, SIG_IGN);
  *to_gateway = child.in;
  *from_gateway = child.out;
  return child.pid;
}

int WaitChild(pid_t pid) {
  test_support::Child child;
  child.pid = pid;
  return test_support::Wait(child);
}

}  // namespace bench
