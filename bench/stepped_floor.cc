// The floor for one tick of the stepped clock: a pipe round trip to a program that answers at
// once, plus one look of the agent watch at it. It starts /bin/cat on two pipes as the agent,
// then for each round writes one offer line, reads its echo back and asks the watch once whether
// the agent is idle. Prints "rounds=N ns_per_round=X idle=K" (K: rounds whose look found it idle).
//
//   stepped_floor [ROUNDS]    (default 20000)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "gateway/agent_watch.h"
#include "tests/support/process.h"

int main(int argc, char** argv) {
  const long rounds = argc > 1 ? std::atol(argv[1]) : 20000;
  test_support::SpawnOptions options;
  options.argv = {"/bin/cat"};
  options.in = test_support::Stream::kPipe;
  options.out = test_support::Stream::kPipe;
  options.err = test_support::Stream::kNull;
  test_support::Child cat = test_support::Spawn(options);
  if (cat.pid < 0) return 1;
  std::string why;
  std::optional<gateway::AgentWatch> watch =
      gateway::AgentWatch::Open(cat.pid, cat.in, cat.out, &why);
  if (!watch) {
    std::fprintf(stderr, "stepped_floor: %s\n", why.c_str());
    return 1;
  }
  const std::string line = "offer g1 1000\n";
  char buffer[64];
  long idle = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < rounds; ++i) {
    if (!test_support::WriteAll(cat.in, line)) return 1;
    size_t got = 0;
    while (got < line.size()) {
      const ssize_t n = read(cat.out, buffer, sizeof buffer);
      if (n <= 0) return 1;
      got += static_cast<size_t>(n);
    }
    if (watch->Idle()) ++idle;
  }
  const double ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  test_support::Wait(cat);
  std::printf("rounds=%ld ns_per_round=%.0f idle=%ld\n", rounds, ns / static_cast<double>(rounds),
              idle);
  return 0;
}
