// Deterministic market streams for the benchmarks, with the byte offsets at which the agent bids.
//
// The generator writes gateway-to-agent messages and runs, beside them, a model of the agent's
// state and bidding rule: after every message it decides as the agent does whether a bid follows,
// and records the offset just past that message. The I/O baseline uses these offsets to send its
// bids at the same points of the input, and the smoke test checks the agent against them.
#ifndef BENCH_MARKET_STREAM_H_
#define BENCH_MARKET_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct GeneratedStream {
  std::string bytes;
  // Offsets just past each message after which the agent sends "bid\n", ascending.
  std::vector<uint64_t> bid_offsets;
  int64_t messages = 0;
  int64_t open_rounds = 0;
};

// Busy trading sessions: auctions cycling through 1..21, each with goods_per_auction goods and
// buyers_per_auction buyers, a few rounds, and 10-40 descending offers per good ending in a sale
// (to the agent or to another buyer), a collision or the good leaving the market. Whole auctions
// are added until the stream holds at least target_bytes; it ends with "closed_market".
struct SessionShape {
  uint64_t target_bytes = 50u << 20;
  uint64_t seed = 1;
  int goods_per_auction = 12;
  int buyers_per_auction = 10;
  int min_rounds = 2;
  int max_rounds = 4;
  int min_offers = 10;
  int max_offers = 40;
};
GeneratedStream GenerateSessions(const SessionShape& shape);

// Full tables followed by open_rounds: all 21 auctions opened in turn with `goods` goods and
// `buyers` buyers each, every good sold or taken off the market, then `rounds` "open_round"
// messages, each of which makes the agent print its whole state.
GeneratedStream GenerateTraceStream(int goods, int buyers, int rounds, uint64_t seed);

}  // namespace bench

#endif  // BENCH_MARKET_STREAM_H_
