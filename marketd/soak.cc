// market_soak: a crowd of honest and hostile clients against one marketd on loopback, for
// minutes (make soak). Honest bidders log in, read every line at once and bid now and then at
// prices they can pay; they time the gaps between price announcements. The hostile crowd floods
// bids, holds idle sockets, sends half lines and garbage, guesses passwords (from 127.0.0.2),
// never reads, or hangs up mid-session. A price's time is when its bytes reached the honest
// bidder's socket (the kernel's receive timestamp), so the gaps measure the market's clock and
// the wire, not how late this one busy process got round to reading. At the end it stops marketd
// with SIGTERM and prints what it saw; marketd's own figures (memory, CPU) and results are read by
// marketd/soak.sh.
//
//   market_soak PORT MARKETD_PID SECONDS TICK_MS HONEST
// Logins: h1..hHONEST (password "hN-pw"), f1..f2 flooders, s1..s4 slow readers, d1..d10
// disconnectors, all registered; the rest of the crowd is not.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Kind { kHonest, kFlooder, kSlow, kDisconnector, kIdle, kHalfLine, kGarbage, kGuesser };

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kHonest:
      return "honest";
    case Kind::kFlooder:
      return "flooder";
    case Kind::kSlow:
      return "slow reader";
    case Kind::kDisconnector:
      return "disconnector";
    case Kind::kIdle:
      return "idle";
    case Kind::kHalfLine:
      return "half line";
    case Kind::kGarbage:
      return "garbage";
    case Kind::kGuesser:
      return "guesser";
  }
  return "?";
}

struct Conn {
  Kind kind = Kind::kHonest;
  std::string login;
  int fd = -1;
  std::string in;
  Clock::time_point reconnect_at{};
  Clock::time_point act_at{};
  double last_price_ms = 0;  // receive time of the last price, ms on the kernel's clock
  bool has_price = false;
  int64_t credit = 50000;
  bool admitted = false;
};

struct Figures {
  std::vector<double> gaps_ms;  // between price announcements, as honest bidders saw them
  int64_t gaps_unseen = 0;  // prices that arrived in one read with the next: no time of their own
  std::map<std::string, int64_t> sent;  // honest bids sent, per login
  std::map<std::string, int64_t> denials;
  std::map<std::string, int64_t> closed_by_server;  // per kind
  int64_t connects = 0;
  int64_t connect_failures = 0;
  int64_t honest_closed_early = 0;
};

uint16_t port = 0;
Figures figures;
std::mt19937_64 rng(11);

int Connect(const char* source) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source != nullptr) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    ++figures.connect_failures;
    return -1;
  }
  ++figures.connects;
  return fd;
}

bool SendAll(Conn& c, const std::string& bytes) {
  if (c.fd < 0) return false;
  const ssize_t n = send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return n == static_cast<ssize_t>(bytes.size());
}

void Hang(Conn& c, Clock::time_point now, int after_ms) {
  if (c.fd >= 0) close(c.fd);
  c.fd = -1;
  c.in.clear();
  c.admitted = false;
  c.reconnect_at = now + std::chrono::milliseconds(after_ms);
}

void Open(Conn& c, Clock::time_point now) {
  c.fd = Connect(c.kind == Kind::kGuesser ? "127.0.0.2" : nullptr);
  if (c.fd < 0) {
    c.reconnect_at = now + std::chrono::milliseconds(200);
    return;
  }
  if (c.kind == Kind::kHonest) {
    const int one = 1;
    setsockopt(c.fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  }
  if (c.kind == Kind::kSlow) {
    const int tiny = 2048;
    setsockopt(c.fd, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
  }
  switch (c.kind) {
    case Kind::kHonest:
    case Kind::kFlooder:
    case Kind::kSlow:
    case Kind::kDisconnector:
      SendAll(c, "admission " + c.login + " " + c.login + "-pw\n");
      break;
    case Kind::kHalfLine:
      SendAll(c, "admission " + c.login);
      break;
    case Kind::kGuesser:
      SendAll(c, "admission h" + std::to_string(rng() % 50 + 1) + " guess" +
                     std::to_string(rng() % 100000) + "\n");
      break;
    default:
      break;
  }
  c.act_at = now + std::chrono::milliseconds(100 + rng() % 400);
}

// `arrived_ms`: when the line's bytes reached the socket; negative when unknown (the read held a
// later price too).
void OnLine(Conn& c, const std::string& line, double arrived_ms, bool bidding, double bid_chance) {
  if (line.rfind("deny ", 0) == 0) ++figures.denials[line.substr(5)];
  if (line == "accept") c.admitted = true;
  if (c.kind != Kind::kHonest && c.kind != Kind::kDisconnector) return;
  if (line.rfind("open_auction ", 0) == 0) c.credit = 50000;
  if (line.rfind("sold " + c.login + " ", 0) == 0) {
    c.credit -= std::atoll(line.c_str() + 6 + c.login.size());
  }
  const bool offer = line.rfind("offer ", 0) == 0 || line.rfind("collision ", 0) == 0;
  if (!offer) return;
  if (c.kind == Kind::kHonest) {
    if (arrived_ms < 0) {
      ++figures.gaps_unseen;
      c.has_price = false;
    } else {
      if (c.has_price) figures.gaps_ms.push_back(arrived_ms - c.last_price_ms);
      c.has_price = true;
      c.last_price_ms = arrived_ms;
    }
  }
  const int64_t price = std::atoll(line.c_str() + line.rfind(' ') + 1);
  std::uniform_real_distribution<double> coin(0, 1);
  if (bidding && price <= c.credit && coin(rng) < bid_chance) {
    if (SendAll(c, "bid\n") && c.kind == Kind::kHonest) ++figures.sent[c.login];
  }
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t rank = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(rank, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: market_soak PORT MARKETD_PID SECONDS TICK_MS HONEST\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  port = static_cast<uint16_t>(std::atoi(argv[1]));
  const pid_t server = static_cast<pid_t>(std::atoi(argv[2]));
  const int seconds = std::atoi(argv[3]);
  const double tick_ms = std::atof(argv[4]);
  const int honest = std::atoi(argv[5]);
  // About one honest bid every fifth tick across the crowd: goods run down a few ticks each.
  const double bid_chance = 0.2 / honest;

  std::vector<Conn> conns;
  auto add = [&](Kind kind, const std::string& login, int count) {
    for (int i = 1; i <= count; ++i) {
      Conn c;
      c.kind = kind;
      c.login = login.empty() ? "" : login + std::to_string(i);
      conns.push_back(c);
    }
  };
  add(Kind::kHonest, "h", honest);
  add(Kind::kFlooder, "f", 2);
  add(Kind::kSlow, "s", 4);
  add(Kind::kDisconnector, "d", 10);
  add(Kind::kIdle, "", 100);
  add(Kind::kHalfLine, "x", 50);
  add(Kind::kGarbage, "", 20);
  add(Kind::kGuesser, "", 10);

  const Clock::time_point start = Clock::now();
  const Clock::time_point stop_bidding = start + std::chrono::seconds(seconds - 3);
  const Clock::time_point end = start + std::chrono::seconds(seconds);
  for (Conn& c : conns) Open(c, start);
  std::string flood;
  for (int i = 0; i < 4096; ++i) flood += "bid\n";
  bool stopped = false;
  std::vector<pollfd> fds;
  std::vector<size_t> owners;
  for (;;) {
    Clock::time_point now = Clock::now();
    if (!stopped && now >= end) {
      kill(server, SIGTERM);
      stopped = true;
    }
    if (stopped && now >= end + std::chrono::seconds(20)) break;
    fds.clear();
    owners.clear();
    for (size_t i = 0; i < conns.size(); ++i) {
      Conn& c = conns[i];
      if (c.fd < 0) {
        if (!stopped && c.kind != Kind::kHonest && c.kind != Kind::kSlow &&
            c.kind != Kind::kDisconnector && c.kind != Kind::kFlooder && now >= c.reconnect_at) {
          Open(c, now);
        }
        if (c.fd < 0) continue;
      }
      short events = c.kind == Kind::kSlow ? 0 : POLLIN;
      if (c.kind == Kind::kFlooder && c.admitted && !stopped) events |= POLLOUT;
      fds.push_back({c.fd, events, 0});
      owners.push_back(i);
    }
    if (stopped && fds.empty()) break;
    poll(fds.data(), fds.size(), 2);
    now = Clock::now();
    const bool bidding = now < stop_bidding;
    for (size_t k = 0; k < fds.size(); ++k) {
      Conn& c = conns[owners[k]];
      if ((fds[k].revents & POLLOUT) != 0) {
        send(c.fd, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[16384];
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
      iovec vector{buffer, sizeof buffer};
      msghdr message{};
      message.msg_iov = &vector;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(c.fd, &message, MSG_DONTWAIT);
      if (n > 0) {
        double arrived_ms = -1;
        for (cmsghdr* m = CMSG_FIRSTHDR(&message); m != nullptr; m = CMSG_NXTHDR(&message, m)) {
          if (m->cmsg_level == SOL_SOCKET && m->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t;
            std::memcpy(&t, CMSG_DATA(m), sizeof t);
            arrived_ms = static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
          }
        }
        c.in.append(buffer, static_cast<size_t>(n));
        // The timestamp is that of the read's last bytes: only the last price in it owns it.
        size_t last_price = std::string::npos;
        for (size_t at = 0, nl; (nl = c.in.find('\n', at)) != std::string::npos; at = nl + 1) {
          const std::string_view line(c.in.data() + at, nl - at);
          if (line.rfind("offer ", 0) == 0 || line.rfind("collision ", 0) == 0) last_price = at;
        }
        size_t at = 0;
        for (size_t nl; (nl = c.in.find('\n', at)) != std::string::npos; at = nl + 1) {
          OnLine(c, c.in.substr(at, nl - at), at == last_price ? arrived_ms : -1, bidding,
                 bid_chance);
        }
        c.in.erase(0, at);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        ++figures.closed_by_server[KindName(c.kind)];
        if (c.kind == Kind::kHonest && !stopped) ++figures.honest_closed_early;
        Hang(c, now, 200);
      }
    }
    // Timed mischief.
    for (Conn& c : conns) {
      if (c.fd < 0 || now < c.act_at || stopped) continue;
      c.act_at = now + std::chrono::milliseconds(200 + rng() % 800);
      if (c.kind == Kind::kGarbage) {
        std::string junk(64, '\0');
        for (char& ch : junk) ch = static_cast<char>(rng());
        SendAll(c, junk + "\n");
      } else if (c.kind == Kind::kDisconnector && c.admitted && rng() % 60 == 0) {
        SendAll(c, "bid\n");
        Hang(c, now, 1 << 30);  // gone for good, mid-tick
        c.reconnect_at = Clock::time_point::max();
      }
    }
  }

  int64_t sent = 0;
  for (const auto& [login, count] : figures.sent) sent += count;
  std::printf("soak: %d s, %d honest bidders, %zu connections in all, tick %.0f ms\n", seconds,
              honest, conns.size(), tick_ms);
  std::printf("honest tick gap / tick: p50 %.3f, p99 %.3f, max %.3f (%zu gaps)\n",
              Percentile(figures.gaps_ms, 0.5) / tick_ms,
              Percentile(figures.gaps_ms, 0.99) / tick_ms,
              Percentile(figures.gaps_ms, 1.0) / tick_ms, figures.gaps_ms.size());
  std::printf("prices read together with a later one (not timed): %lld\n",
              static_cast<long long>(figures.gaps_unseen));
  std::printf("honest bids sent: %lld\n", static_cast<long long>(sent));
  std::printf("honest connections closed before the end: %lld\n",
              static_cast<long long>(figures.honest_closed_early));
  std::printf("connections opened: %lld, failed to connect: %lld\n",
              static_cast<long long>(figures.connects),
              static_cast<long long>(figures.connect_failures));
  for (const auto& [kind, count] : figures.closed_by_server) {
    std::printf("closed by the server: %s %lld\n", kind.c_str(), static_cast<long long>(count));
  }
  for (const auto& [reason, count] : figures.denials) {
    std::printf("denied %s: %lld\n", reason.c_str(), static_cast<long long>(count));
  }
  for (const auto& [login, count] : figures.sent) {
    std::printf("sent %s %lld\n", login.c_str(), static_cast<long long>(count));
  }
  return 0;
}
