// Micro-benchmarks of the agent's hot paths in one process: the word reader, the dispatch of one
// message, and the state trace. Input comes from memory and the log goes to a sink that only
// counts bytes, so the figures leave out system calls. Each has a baseline on the same bytes:
// a plain loop that splits words and echoes them through the same log buffer, or a copy of the
// trace's bytes through it a line at a time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/market_stream.h"
#include "buyer/bidding/decision.h"
#include "buyer/driver/dispatch.h"
#include "buyer/link/commands.h"
#include "buyer/link/log.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"
#include "buyer/trace/trace.h"
#include "tests/support/agent_reset.h"

namespace {

size_t logged_bytes = 0;
void CountLog(const char*, size_t size) { logged_bytes += size; }

std::string* captured = nullptr;
void CaptureLog(const char* data, size_t size) { captured->append(data, size); }

// Hands out a string in reads of up to the requested size.
struct MemoryReader {
  const std::string* data;
  size_t position;
};

ssize_t ReadMemory(void* context, char* buffer, size_t size) {
  auto* source = static_cast<MemoryReader*>(context);
  size_t n = std::min(size, source->data->size() - source->position);
  std::memcpy(buffer, source->data->data() + source->position, n);
  source->position += n;
  return static_cast<ssize_t>(n);
}

// Repeats a text forever.
struct CycleReader {
  std::string text;
  size_t phase;
};

ssize_t ReadCycle(void* context, char* buffer, size_t size) {
  auto* source = static_cast<CycleReader*>(context);
  for (size_t i = 0; i < size; ++i) {
    buffer[i] = source->text[source->phase];
    if (++source->phase == source->text.size()) source->phase = 0;
  }
  return static_cast<ssize_t>(size);
}

int64_t commands_sent = 0;
ssize_t CountCommand(void*, const char*, size_t size) {
  ++commands_sent;
  return static_cast<ssize_t>(size);
}

const std::string& SessionStream() {
  static const std::string stream = [] {
    bench::SessionShape shape;
    shape.target_bytes = 4u << 20;
    return bench::GenerateSessions(shape).bytes;
  }();
  return stream;
}

int64_t CountMessages(const std::string& text) {
  return static_cast<int64_t>(std::count(text.begin(), text.end(), '\n'));
}

// Offsets and sizes of text's lines (each with its newline), the pieces the copy baselines hand
// to the log buffer.
std::vector<std::pair<size_t, size_t>> Lines(const std::string& text) {
  std::vector<std::pair<size_t, size_t>> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.emplace_back(start, end - start);
    start = end;
  }
  return lines;
}

void CopyLines(const std::string& text, const std::vector<std::pair<size_t, size_t>>& lines) {
  for (const auto& [start, size] : lines) LogWrite(text.data() + start, size);
  LogFlush();
}

// Every benchmark reports one counter, "units": the words, messages or bytes one iteration
// handles, so that per-unit figures can be derived (the CSV report needs the same counters in
// every row).
void SetUnits(benchmark::State& state, double units) { state.counters["units"] = units; }

void FreshAgent() {
  test_support::ResetAgentForTest(CountLog);
  InitWorld();
}

// The word reader alone over a session stream.
void BM_GetWord(benchmark::State& state) {
  const std::string& stream = SessionStream();
  FreshAgent();
  int64_t words = 0;
  for (auto _ : state) {
    words = 0;
    ResetReader();
    MemoryReader source{&stream, 0};
    Input input{ReadMemory, &source};
    while (!InputRanOut()) {
      // End-of-message markers are not words of the stream; the baseline does not count them.
      if (GetWord(input)[0] != '\0') ++words;
    }
    LogFlush();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  SetUnits(state, static_cast<double>(words));
  SetLogSink(nullptr);
}
BENCHMARK(BM_GetWord);

// The floor for the reader: a plain loop over the same bytes that splits words at whitespace and
// echoes each one and a space through the log buffer.
int64_t SplitAndEcho(const std::string& bytes) {
  int64_t words = 0;
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    const char* start = p;
    while (p < end && !(*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    if (p > start) {
      LogWrite(start, static_cast<size_t>(p - start));
      LogWrite(" ", 1);
      ++words;
    }
  }
  LogFlush();
  return words;
}

void BM_SplitBaseline(benchmark::State& state) {
  const std::string& stream = SessionStream();
  SetLogSink(CountLog);
  int64_t words = 0;
  for (auto _ : state) words = SplitAndEcho(stream);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  SetUnits(state, static_cast<double>(words));
  SetLogSink(nullptr);
}
BENCHMARK(BM_SplitBaseline);

// The whole message loop (dispatch, handlers, bid decision, trace at each open_round) over a
// session stream; items are messages.
void BM_DispatchSession(benchmark::State& state) {
  const std::string& stream = SessionStream();
  Output output{CountCommand, nullptr};
  int64_t bids = 0;
  for (auto _ : state) {
    state.PauseTiming();
    FreshAgent();
    commands_sent = 0;
    MemoryReader source{&stream, 0};
    Input input{ReadMemory, &source};
    state.ResumeTiming();
    while (!InputEnded()) {
      get_message(input);
      To_Bid_or_Not_to_Bid(output);
    }
    LogFlush();
    bids = commands_sent;
  }
  if (bids == 0) state.SkipWithError("the agent never bid on the session stream");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  SetUnits(state, static_cast<double>(CountMessages(stream)));
  SetLogSink(nullptr);
}
BENCHMARK(BM_DispatchSession);

// The same output as the message loop over the session prints, copied through the log buffer line
// by line.
void BM_SessionCopyBaseline(benchmark::State& state) {
  const std::string& stream = SessionStream();
  FreshAgent();
  std::string text;
  captured = &text;
  SetLogSink(CaptureLog);
  MemoryReader source{&stream, 0};
  Input input{ReadMemory, &source};
  Output output{CountCommand, nullptr};
  while (!InputEnded()) {
    get_message(input);
    To_Bid_or_Not_to_Bid(output);
  }
  LogFlush();
  SetLogSink(CountLog);
  const auto lines = Lines(text);
  for (auto _ : state) CopyLines(text, lines);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  SetUnits(state, static_cast<double>(CountMessages(stream)));
  SetLogSink(nullptr);
}
BENCHMARK(BM_SessionCopyBaseline);

// One "offer" on the good under the hammer, as the agent's loop runs it: the pass that reads the
// message and decides to bid, then the pass that reads its end-of-message marker.
void BM_DispatchOffer(benchmark::State& state) {
  FreshAgent();
  std::strcpy(world.Goods_to_be_sold[0][0].id, "g1");
  world.Goods_to_be_sold[0][0].initial_price = 1000;
  world.Goods_to_be_sold[0][0].resale_price = 1800;
  world.NGoods_to_be_sold[0] = 1;
  world.current_auction = 0;
  world.current_good = 0;
  world.current_price = 1000;
  CycleReader source{"offer g1 1500\n", 0};
  Input input{ReadCycle, &source};
  Output output{CountCommand, nullptr};
  commands_sent = 0;
  for (auto _ : state) {
    get_message(input);
    To_Bid_or_Not_to_Bid(output);
    get_message(input);
    To_Bid_or_Not_to_Bid(output);
  }
  LogFlush();
  if (commands_sent != state.iterations())
    state.SkipWithError("the agent did not bid on every offer");
  SetUnits(state, 1);
  SetLogSink(nullptr);
}
BENCHMARK(BM_DispatchOffer);

void BM_SplitOfferBaseline(benchmark::State& state) {
  static const std::string offer = "offer g1 1500\n";
  SetLogSink(CountLog);
  for (auto _ : state) {
    LogWrite("\n\n", 2);
    SplitAndEcho(offer);
    LogWrite("\n\n", 2);
  }
  SetUnits(state, 1);
  SetLogSink(nullptr);
}
BENCHMARK(BM_SplitOfferBaseline);

// Full tables: 21 auctions of 200 goods and 100 buyers, every field filled.
void FillTables() {
  FreshAgent();
  for (int a = 0; a < MAX_AUCTIONS; ++a) {
    world.my_credit[a] = 50000 - 1234 * a;
    world.my_expected_benefit[a] = 321 * a;
    world.NGoods_to_be_sold[a] = MAX_GOODS;
    world.NBuyers[a] = MAX_BUYERS;
    for (int g = 0; g < MAX_GOODS; ++g) {
      GoodRecord& good = world.Goods_to_be_sold[a][g];
      std::snprintf(good.id, sizeof good.id, "g%08d", a * MAX_GOODS + g);
      std::snprintf(good.kind, sizeof good.kind, "%s", g % 2 == 0 ? "cheese" : "wine");
      std::snprintf(good.seller, sizeof good.seller, "trader%03d", g % 97);
      good.initial_price = 2000 + 7 * g;
      good.out_of_market_value = g % 9;
      good.resale_price = 1200 + 11 * g;
      std::snprintf(good.buyer_name, sizeof good.buyer_name, "trader%03d", (g * 7) % 97);
      good.sale_price = g % 7 == 0 ? -1 : 900 + 9 * g;
    }
    for (int b = 0; b < MAX_BUYERS; ++b) {
      BuyerRecord& buyer = world.Buyers[a][b];
      std::snprintf(buyer.name, sizeof buyer.name, "trader%03d", b);
      buyer.benefit_total = 37 * b - 500;
      buyer.expenses = 1500 * (b % 13);
      buyer.status = 0;
    }
  }
}

void BM_Trace(benchmark::State& state) {
  FillTables();
  logged_bytes = 0;
  for (auto _ : state) {
    trace();
    LogFlush();
  }
  if (logged_bytes == 0) state.SkipWithError("the trace printed nothing");
  SetUnits(state, static_cast<double>(logged_bytes) / static_cast<double>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(logged_bytes));
  SetLogSink(nullptr);
}
BENCHMARK(BM_Trace);

// The same bytes as one trace, copied through the log buffer line by line.
void BM_TraceCopyBaseline(benchmark::State& state) {
  FillTables();
  std::string text;
  captured = &text;
  SetLogSink(CaptureLog);
  trace();
  LogFlush();
  SetLogSink(CountLog);
  const auto lines = Lines(text);
  for (auto _ : state) CopyLines(text, lines);
  SetUnits(state, static_cast<double>(text.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  SetLogSink(nullptr);
}
BENCHMARK(BM_TraceCopyBaseline);

}  // namespace

BENCHMARK_MAIN();
