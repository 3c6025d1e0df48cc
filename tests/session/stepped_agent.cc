// A scripted agent for the stepped clock's tests: it starts the gateway as its child on two
// pipes, as an agent does, logs in as CLogin, and then behaves as told:
//   answer  reads every line and bids once an offer is 200 below the good's resale price (an
//           agent that keeps the rules)
//   sleep   sleeps 120 ms after every line it reads (longer than the test's tick)
//   spin    reads without ever waiting, spinning between reads
//   helper  starts a helper process that lives through the session, then answers
//   stop    stops reading the market after the first offer until its own standard input ends,
//           then reads to the end (so it has answered the first tick, whichever lines came in
//           the read that brought that offer)
//   flood   writes "bid" lines without pause, reading what comes between writes
// Usage: stepped_agent MODE GATEWAY. Exits with the gateway's exit status once the market's
// output has ended, 1 on a fault of its own.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int to_gateway = -1;
int from_gateway = -1;

bool Write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(to_gateway, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads what is there (waiting unless the descriptor does not block); false at the end.
bool ReadSome(std::string* pending) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(from_gateway, buffer, sizeof buffer);
    if (n > 0) {
      pending->append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n == 0) return false;
    if (errno == EAGAIN || errno == EINTR) return true;
    return false;
  }
}

// The next whole line of *pending, taken out of it; false when there is none yet.
bool TakeLine(std::string* pending, std::string* line) {
  const size_t end = pending->find('\n');
  if (end == std::string::npos) return false;
  *line = pending->substr(0, end);
  pending->erase(0, end + 1);
  return true;
}

pid_t Start(const char* program, char* const argv[], bool on_pipes, int in = -1, int out = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (on_pipes) {
    dup2(in, 0);
    dup2(out, 1);
  }
  for (int fd = 3; fd < 64; ++fd) close(fd);
  execv(program, argv);
  _exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: stepped_agent answer|sleep|spin|helper|stop|flood GATEWAY\n");
    return 1;
  }
  const std::string mode = argv[1];
  std::signal(SIGPIPE, SIG_IGN);
  int down[2];
  int up[2];
  if (pipe(down) != 0 || pipe(up) != 0) return 1;
  char name[] = "RemoteControl";
  char login[] = "CLogin";
  char* gateway_argv[] = {name, login, nullptr};
  const pid_t gateway = Start(argv[2], gateway_argv, true, down[0], up[1]);
  if (gateway < 0) return 1;
  close(down[0]);
  close(up[1]);
  to_gateway = down[1];
  from_gateway = up[0];
  pid_t helper = -1;
  if (mode == "helper") {
    char sleep_name[] = "sleep";
    char seconds[] = "600";
    char* sleep_argv[] = {sleep_name, seconds, nullptr};
    helper = Start("/bin/sleep", sleep_argv, false);
  }
  if (mode == "spin") fcntl(from_gateway, F_SETFL, fcntl(from_gateway, F_GETFL) | O_NONBLOCK);

  Write("admission CLogin TGatekeep\n");
  std::string pending;
  std::string line;
  long resale = 0;  // of the good under the hammer; 0 once bid on
  bool open = true;
  bool stopped = false;  // the "stop" mode has stopped reading once
  while (open) {
    if (mode == "flood") {
      pollfd fds[2] = {{from_gateway, POLLIN, 0}, {to_gateway, POLLOUT, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[0].revents != 0) open = ReadSome(&pending);
      if ((fds[1].revents & POLLOUT) != 0) Write("bid\n");
      while (TakeLine(&pending, &line)) {
      }
      continue;
    }
    open = ReadSome(&pending);
    while (TakeLine(&pending, &line)) {
      if (mode == "sleep") usleep(120'000);
      char id[64];
      long initial = 0;
      long price = 0;
      // "good ID KIND SELLER INITIAL RESALE", "offer ID PRICE"
      if (std::sscanf(line.c_str(), "good %63s %*s %*s %ld %ld", id, &initial, &resale) != 3 &&
          std::sscanf(line.c_str(), "offer %63s %ld", id, &price) == 2 && resale > 0 &&
          price <= resale - 200 && mode != "spin") {
        resale = 0;
        Write("bid\n");
      }
      if (mode == "stop" && line.rfind("offer ", 0) == 0 && !stopped) {
        stopped = true;
        char buffer[256];
        while (read(0, buffer, sizeof buffer) > 0) {
        }
      }
    }
  }
  close(to_gateway);
  close(from_gateway);
  if (helper > 0) {
    kill(helper, SIGKILL);
    waitpid(helper, nullptr, 0);
  }
  int status = 0;
  while (waitpid(gateway, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
