// The latency baseline: a program started like the agent that answers every "offer" line from the
// gateway with "bid\n" at once and does nothing else. It starts RemoteControl on two pipes, logs
// in, and at end of input closes the command pipe and waits for the gateway (exit status 0 when
// the gateway exited 0).

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_support.h"

int main() {
  int commands = -1;
  int panel = -1;
  pid_t gateway = bench::StartGateway(&commands, &panel);
  if (gateway < 0) return 1;
  static const char login[] = "admission CLogin TGatekeep\n";
  bench::WriteAll(commands, login, sizeof login - 1);
  std::string pending;
  char input[4096];
  for (;;) {
    ssize_t n = read(panel, input, sizeof input);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(input, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      if (pending.compare(start, 6, "offer ") == 0) bench::WriteAll(commands, "bid\n", 4);
    }
    pending.erase(0, start);
  }
  close(commands);
  int status = bench::WaitChild(gateway);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
