// Writes a benchmark stream and the offsets at which the agent bids on it.
//
//   stream_gen sessions STREAM BIDS [MEGABYTES [SEED]]
//   stream_gen trace STREAM BIDS [ROUNDS [SEED]]
//
// BIDS receives one decimal offset per line. A summary line goes to standard output:
// "bytes=N messages=N bids=N open_rounds=N".

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_support.h"
#include "bench/market_stream.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: stream_gen sessions STREAM BIDS [MEGABYTES [SEED]]\n"
               "       stream_gen trace STREAM BIDS [ROUNDS [SEED]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string mode = argv[1];
  const double amount = argc > 4 ? std::atof(argv[4]) : 0;
  const uint64_t seed = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1;
  bench::GeneratedStream stream;
  if (mode == "sessions") {
    bench::SessionShape shape;
    if (amount > 0) shape.target_bytes = static_cast<uint64_t>(amount * 1024 * 1024);
    shape.seed = seed;
    stream = bench::GenerateSessions(shape);
  } else if (mode == "trace") {
    int rounds = argc > 4 ? static_cast<int>(amount) : 100;
    stream = bench::GenerateTraceStream(200, 100, rounds, seed);
  } else {
    return Usage();
  }
  std::string offsets;
  for (uint64_t offset : stream.bid_offsets) offsets += std::to_string(offset) + "\n";
  if (!bench::WriteWholeFile(argv[2], stream.bytes) || !bench::WriteWholeFile(argv[3], offsets)) {
    std::fprintf(stderr, "stream_gen: cannot write %s or %s\n", argv[2], argv[3]);
    return 1;
  }
  std::printf("bytes=%zu messages=%lld bids=%zu open_rounds=%lld\n", stream.bytes.size(),
              static_cast<long long>(stream.messages), stream.bid_offsets.size(),
              static_cast<long long>(stream.open_rounds));
  return 0;
}
