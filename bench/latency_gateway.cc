// Benchmark gateway for offer-to-bid latency, installed as "RemoteControl" in a folder of its own.
// After the peer's first line (its login) it opens auction 1 with one good, then sends
// "offer g1 1500" and waits for the peer's "bid" line, again and again, timing each round trip.
// Any other answer is an error (exit 4). At the end it closes its output, reads its input to the
// end and reports on one line: rounds, median_ns, p99_ns, p999_ns, min_ns, max_ns, mean_ns and
// peer_hwm_kb (peak resident set of its parent, the peer).
//
// Settings (environment): BENCH_ROUNDS timed round trips (default 20000); BENCH_WARMUP untimed
// ones first (default 500); BENCH_RESULT the file the line is appended to (none: standard error).

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_support.h"

namespace {

// Lines from standard input.
class LineReader {
 public:
  // The next line without its newline; false at end of input.
  bool Next(std::string* line) {
    for (;;) {
      size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        line->assign(pending_, 0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      char buffer[512];
      ssize_t n = read(0, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  std::string pending_;
};

int64_t Percentile(const std::vector<int64_t>& sorted, double fraction) {
  // Nearest rank.
  size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
  rank = std::clamp<size_t>(rank, 1, sorted.size());
  return sorted[rank - 1];
}

}  // namespace

int main() {
  const int64_t rounds = std::max<int64_t>(1, bench::EnvInt("BENCH_ROUNDS", 20000));
  const int64_t warmup = std::max<int64_t>(0, bench::EnvInt("BENCH_WARMUP", 500));
  LineReader input;
  std::string line;
  if (!input.Next(&line)) return 4;
  const std::string opening =
      "accept\nopen_auction 1\ngoods g1 k s 1000 1800\ngood g1 k s 1000 1800\n";
  if (!bench::WriteAll(1, opening.data(), opening.size())) return 4;
  static const char offer[] = "offer g1 1500\n";
  std::vector<int64_t> samples;
  samples.reserve(static_cast<size_t>(rounds));
  for (int64_t i = 0; i < warmup + rounds; ++i) {
    const int64_t sent = bench::NowNs();
    if (!bench::WriteAll(1, offer, sizeof offer - 1)) return 4;
    if (!input.Next(&line) || line != "bid") {
      std::fprintf(stderr, "latency gateway: expected \"bid\", got \"%s\"\n", line.c_str());
      return 4;
    }
    const int64_t answered = bench::NowNs();
    if (i >= warmup) samples.push_back(answered - sent);
  }
  close(1);
  while (input.Next(&line)) {
  }
  const int64_t peer_hwm = bench::PeakResidentKb(getppid());
  std::sort(samples.begin(), samples.end());
  long double sum = 0;
  for (int64_t sample : samples) sum += static_cast<long double>(sample);
  char result[320];
  std::snprintf(result, sizeof result,
                "rounds=%zu median_ns=%lld p99_ns=%lld p999_ns=%lld min_ns=%lld max_ns=%lld "
                "mean_ns=%.0Lf peer_hwm_kb=%lld",
                samples.size(), static_cast<long long>(Percentile(samples, 0.5)),
                static_cast<long long>(Percentile(samples, 0.99)),
                static_cast<long long>(Percentile(samples, 0.999)),
                static_cast<long long>(samples.front()), static_cast<long long>(samples.back()),
                sum / static_cast<long double>(samples.size()), static_cast<long long>(peer_hwm));
  std::string path = bench::Env("BENCH_RESULT");
  if (path.empty()) {
    std::fprintf(stderr, "%s\n", result);
  } else if (!bench::AppendLine(path, result)) {
    return 91;
  }
  return 0;
}
