// Plays arbitrary byte chunks from several connections into the networked market's session rules
// (marketd's MarketSession) on a fake clock: admissions, bids, garbage, hang-ups, failed outputs
// and time passing, in any order. Any crash, leak or undefined behaviour is a finding.
//
// Input: a sequence of records, each a header byte then its operands:
//   header & 3         the connection (one of four slots)
//   (header >> 2) & 7  0, 6, 7: bytes (a length byte, then that many bytes, through the line
//                      reader); 1: the clock moves on by the next byte in ms, waking the session
//                      when due; 2: the connection's input ends; 3: the slot reconnects as a new
//                      connection; 4: its output fails; 5: its output queue is full from now on.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/results_json.h"
#include "engine/summary.h"
#include "tests/support/market_fixture.h"
#include "wire/line_reader.h"

namespace {

using test_support::Market;
using test_support::Ms;

const char kScenario[] =
    "tick_ms = 10\nadmission_window_ms = 50\nmin_buyers = 1\nmax_buyers = 3\n"
    "[[registry]]\nlogin = \"Ann\"\npassword = \"pa\"\n"
    "[[registry]]\nlogin = \"Bob\"\npassword = \"pb\"\n"
    "[[registry]]\nlogin = \"Cy\"\npassword = \"pc\"\n"
    "[[rivals]]\nname = \"R\"\nstrategy = \"value\"\n"
    "[[auctions]]\ngoods = [\n"
    "  { id = \"g1\", kind = \"k\", seller = \"s\", initial = 1000, resale = 1500, reserve = 500 "
    "},\n"
    "  { id = \"g2\", kind = \"k\", seller = \"s\", initial = 60000, resale = 70000, reserve = "
    "59000 },\n"
    "]\n";

constexpr int kSlots = 4;
constexpr size_t kMaxLine = 64;  // short, so that overlong lines are easy to reach

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  marketd::ServerOptions options;
  options.max_line = kMaxLine;
  options.max_connections = 8;
  options.admission_timeout = std::chrono::milliseconds(200);
  options.linger = std::chrono::milliseconds(100);
  Market m(kScenario, options);
  market::ClientId ids[kSlots];
  std::vector<wire::LineReader> readers(kSlots, wire::LineReader(kMaxLine));
  market::ClientId next = 1;
  for (int slot = 0; slot < kSlots; ++slot) {
    ids[slot] = next++;
    m.session.Connected(ids[slot], slot % 2 == 0 ? "10.0.0.1" : "10.0.0.2");
    m.session.AfterEvent();
  }
  std::vector<wire::Line> lines;
  size_t at = 0;
  while (at < size && !m.session.finished()) {
    const uint8_t header = data[at++];
    const int slot = header & 3;
    const market::ClientId id = ids[slot];
    switch ((header >> 2) & 7) {
      case 1: {
        const int64_t ms = at < size ? data[at++] : 0;
        m.RunUntil(m.clock.Now() + Ms(ms));
        break;
      }
      case 2:
        m.session.InputEnded(id, "connection ended");
        m.session.AfterEvent();
        break;
      case 3:
        ids[slot] = next++;
        readers[static_cast<size_t>(slot)] = wire::LineReader(kMaxLine);
        m.session.Connected(ids[slot], "10.0.0.3");
        m.session.AfterEvent();
        break;
      case 4:
        m.session.OutputFailed(id, "broken pipe");
        m.session.AfterEvent();
        break;
      case 5:
        m.connections.line_limit[id] = m.connections.sent[id].size();
        break;
      default: {
        const size_t length = at < size ? data[at++] : 0;
        const size_t n = length < size - at ? length : size - at;
        lines.clear();
        readers[static_cast<size_t>(slot)].Feed(
            std::string_view(reinterpret_cast<const char*>(data) + at, n), &lines);
        at += n;
        for (const wire::Line& line : lines) m.session.Received(id, line);
        m.session.AfterEvent();
        break;
      }
    }
  }
  // The session runs out on its own: every wait it asks for ends.
  m.RunUntil(m.clock.Now() + Ms(600'000));
  if (!m.session.finished()) m.session.Interrupt();
  const market::Results& results = m.session.results();
  (void)market::ResultsJson(results);
  (void)market::SummaryText(results);
  return 0;
}
