// Benchmark gateway for throughput, installed as "RemoteControl" in a folder of its own. It
// writes a stream file to its standard output as fast as the pipe takes it while a second thread
// drains the commands on its standard input, then reports on one line:
//   elapsed_ns  from the first byte written until its input ended (the peer has read everything,
//               flushed its log and closed the command pipe)
//   input_bytes bytes written, bids "bid" lines received, lines every line received
//   peer_hwm_kb peak resident set of the peer (this process's parent) at that moment
//
// Settings (environment): BENCH_STREAM the stream file; BENCH_RESULT the file the line is appended
// to (none: standard error).

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

#include "bench/bench_support.h"

namespace {

struct Commands {
  int64_t bids = 0;
  int64_t lines = 0;
  int64_t ended_ns = 0;
};

// Reads standard input to its end, counting lines and "bid" lines.
void Drain(Commands* commands) {
  char buffer[4096];
  std::string line;
  for (;;) {
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      ++commands->lines;
      if (line == "bid") ++commands->bids;
      line.clear();
    }
  }
  commands->ended_ns = bench::NowNs();
}

}  // namespace

int main() {
  std::string stream;
  if (!bench::ReadWholeFile(bench::Env("BENCH_STREAM"), &stream)) return 90;
  Commands commands;
  std::thread drain(Drain, &commands);
  const int64_t started = bench::NowNs();
  bool written = true;
  constexpr size_t kChunk = 1 << 16;
  for (size_t at = 0; at < stream.size() && written; at += kChunk) {
    written = bench::WriteAll(1, stream.data() + at, std::min(kChunk, stream.size() - at));
  }
  close(1);
  drain.join();
  const int64_t peer_hwm = bench::PeakResidentKb(getppid());
  char line[256];
  std::snprintf(line, sizeof line,
                "elapsed_ns=%lld input_bytes=%zu bids=%lld lines=%lld peer_hwm_kb=%lld complete=%d",
                static_cast<long long>(commands.ended_ns - started), stream.size(),
                static_cast<long long>(commands.bids), static_cast<long long>(commands.lines),
                static_cast<long long>(peer_hwm), written ? 1 : 0);
  std::string result = bench::Env("BENCH_RESULT");
  if (result.empty()) {
    std::fprintf(stderr, "%s\n", line);
  } else if (!bench::AppendLine(result, line)) {
    return 91;
  }
  return written ? 0 : 3;
}
