// The live monitor's cost to the market's clock: one honest bidder times the gaps between the
// price announcements it receives while a number of monitor viewers watch, some of them stalled
// (connected, never reading). Prints the gaps over the tick: count, p50, p99, max.
//
//   market_monitor_bench --market PORT --http PORT --login L --password P --tick-ms T
//                        [--viewers N] [--stalled K] [--timeout SECONDS]
//
// The viewers connect and receive their snapshot before the bidder logs in (the scenario should
// start the session at its admission). Readers are served by one thread, the bidder has its own.
// Exit status 0 when the bidder saw the market close; 1 otherwise; 2 on bad usage.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port, int receive_buffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (receive_buffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads from fd until `marker` has been seen or `seconds` pass.
bool ReadUntil(int fd, const std::string& marker, double seconds) {
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(seconds));
  std::string seen;
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    seen.append(chunk, static_cast<size_t>(n));
    if (seen.find(marker) != std::string::npos) return true;
  }
  return false;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

int Usage() {
  std::fprintf(stderr,
               "usage: market_monitor_bench --market PORT --http PORT --login L --password P "
               "--tick-ms T [--viewers N] [--stalled K] [--timeout SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int market_port = 0;
  int http_port = 0;
  int viewers = 0;
  int stalled = 0;
  double tick_ms = 0;
  double timeout = 300;
  std::string login;
  std::string password;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--market") {
      market_port = std::atoi(value.c_str());
    } else if (name == "--http") {
      http_port = std::atoi(value.c_str());
    } else if (name == "--viewers") {
      viewers = std::atoi(value.c_str());
    } else if (name == "--stalled") {
      stalled = std::atoi(value.c_str());
    } else if (name == "--tick-ms") {
      tick_ms = std::atof(value.c_str());
    } else if (name == "--timeout") {
      timeout = std::atof(value.c_str());
    } else if (name == "--login") {
      login = value;
    } else if (name == "--password") {
      password = value;
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || market_port <= 0 || tick_ms <= 0 || login.empty() || stalled > viewers ||
      (viewers > 0 && http_port <= 0)) {
    return Usage();
  }

  // The viewers: every one has its snapshot before the session starts.
  std::vector<int> readers;
  std::vector<int> stalled_fds;
  const std::string request = "GET /events HTTP/1.1\r\nHost: bench\r\n\r\n";
  for (int i = 0; i < viewers; ++i) {
    const bool stall = i < stalled;
    const int fd = Connect(http_port, stall ? 2048 : 0);
    if (fd < 0 || !SendAll(fd, request) || !ReadUntil(fd, "event: state", 20)) {
      std::fprintf(stderr, "viewer %d could not start watching\n", i + 1);
      return 1;
    }
    (stall ? stalled_fds : readers).push_back(fd);
  }
  std::atomic<bool> done{false};
  std::atomic<long long> viewer_bytes{0};
  std::thread reading([&] {
    std::vector<pollfd> fds;
    for (int fd : readers) fds.push_back({fd, POLLIN, 0});
    char chunk[65536];
    while (!done && !fds.empty()) {
      if (poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (pollfd& p : fds) {
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = recv(p.fd, chunk, sizeof chunk, 0);
        if (n > 0) {
          viewer_bytes += n;
        } else {
          p.fd = -p.fd - 1;  // ended: poll skips negative descriptors
        }
      }
    }
  });

  // The honest bidder: reads every line at once and notes when each price arrived.
  const int bidder = Connect(market_port, 0);
  int one = 1;
  if (bidder >= 0) setsockopt(bidder, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::vector<Clock::time_point> prices;
  bool closed = false;
  if (bidder >= 0 && SendAll(bidder, "admission " + login + " " + password + "\n")) {
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(timeout));
    std::string buffer;
    char chunk[65536];
    while (!closed && Clock::now() < deadline) {
      const ssize_t n = recv(bidder, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      const Clock::time_point now = Clock::now();
      buffer.append(chunk, static_cast<size_t>(n));
      for (size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1)) {
        const std::string line = buffer.substr(0, end);
        if (line.rfind("offer ", 0) == 0 || line.rfind("collision ", 0) == 0) {
          prices.push_back(now);
        } else if (line == "closed_market") {
          closed = true;
        }
      }
    }
    close(bidder);
  }
  done = true;
  reading.join();
  for (int fd : readers) close(fd);
  for (int fd : stalled_fds) close(fd);

  std::vector<double> gaps;
  for (size_t i = 1; i < prices.size(); ++i) {
    gaps.push_back(std::chrono::duration<double, std::milli>(prices[i] - prices[i - 1]).count() /
                   tick_ms);
  }
  std::printf(
      "viewers %d (%d stalled): %zu gaps; gap / tick p50 %.3f, p99 %.3f, max %.3f; "
      "the viewers read %lld bytes\n",
      viewers, stalled, gaps.size(), Percentile(gaps, 0.5), Percentile(gaps, 0.99),
      gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()),
      static_cast<long long>(viewer_bytes));
  if (!closed) std::fprintf(stderr, "the bidder did not see the market close\n");
  return closed ? 0 : 1;
}
