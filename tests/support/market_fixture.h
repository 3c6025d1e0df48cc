// A networked market session in process for tests, fuzz targets and benchmarks: a manual clock,
// connections whose writes complete at once and record what each was sent.
#ifndef TESTS_SUPPORT_MARKET_FIXTURE_H_
#define TESTS_SUPPORT_MARKET_FIXTURE_H_

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/scenario.h"
#include "marketd/market_session.h"
#include "session/clock.h"
#include "session/stamped_transcript.h"
#include "session/stepped_clock.h"
#include "wire/transcript.h"

namespace test_support {

using market::ClientId;
using marketd::Connections;
using marketd::MarketSession;
using marketd::ServerOptions;
using session::Nanos;

constexpr Nanos Ms(int64_t ms) { return std::chrono::milliseconds(ms); }

// Connections whose writes complete at once; records what each was sent and when.
class FakeConnections : public Connections {
 public:
  explicit FakeConnections(const session::Clock& clock) : clock_(clock) {}

  Queued Queue(ClientId id, const std::string& line) override {
    if (closed.count(id) > 0 || output_ended.count(id) > 0) return Queued::kIgnored;
    auto limit = line_limit.find(id);
    if (limit != line_limit.end() && sent[id].size() >= limit->second) return Queued::kOverflow;
    sent[id].push_back(line);
    if (line == "open_auction 1" && !opened) opened = clock_.Now();
    return Queued::kYes;
  }
  void EndOutput(ClientId id) override {
    output_ended.insert(id);
    // As the server does: a connection that is no buyer is done with once its output is out.
    if (!session->Admitted(id)) Close(id);
  }
  bool HasUnsent(ClientId) const override { return false; }
  void Close(ClientId id) override {
    if (closed.insert(id).second) session->Gone(id);
  }
  void StopAccepting() override { accepting = false; }

  MarketSession* session = nullptr;
  std::map<ClientId, std::vector<std::string>> sent;
  std::map<ClientId, size_t> line_limit;  // lines a connection takes before its queue overflows
  std::set<ClientId> output_ended;
  std::set<ClientId> closed;
  std::optional<Nanos> opened;  // when the first open_auction went out
  bool accepting = true;

 private:
  const session::Clock& clock_;
};

// A scenario from TOML text; an error in it is the caller's bug: it is printed and aborts.
inline market::Scenario Parse(const std::string& text) {
  market::ScenarioLoad load = market::ParseScenario(text, "test.toml");
  if (!load.scenario) {
    std::fprintf(stderr, "bad test scenario: %s\n", load.error.ToString().c_str());
    std::abort();
  }
  return load.scenario.value_or(market::Scenario{});
}

// One session on a manual clock with fake connections; with options.stepped, on the stepped clock
// over it.
struct Market {
  explicit Market(const std::string& text, ServerOptions options = {})
      : scenario(Parse(text)),
        connections(stepped),
        session(scenario, 1, options, stepped, notes, connections) {
    connections.session = &session;
    if (options.stepped) session.StepOn(stepped);
    session.Open();
  }
  void Admit(ClientId id, const std::string& login, const std::string& password) {
    session.Connected(id);
    Say(id, "admission " + login + " " + password);
  }
  void Say(ClientId id, const std::string& line, bool overlong = false) {
    session.Received(id, wire::Line{line, overlong});
    session.AfterEvent();
  }
  void HangUp(ClientId id) {
    session.InputEnded(id, "connection ended");
    session.AfterEvent();
  }
  // Moves the session's clock to `at`, waking the session whenever it is due; stops early when it
  // ends. (The session's time is the manual clock's plus what the stepped clock skipped.)
  void RunUntil(Nanos at) {
    while (!session.finished()) {
      const std::optional<Nanos> wake = session.NextWake();
      if (!wake || *wake > at) break;
      clock.Set(*wake - stepped.skipped());
      session.Wake();
    }
    if (!session.finished()) clock.Set(at - stepped.skipped());
  }
  // The bytes the connection was sent so far, as its relay counts them.
  uint64_t BytesSent(ClientId id) {
    uint64_t bytes = 0;
    for (const std::string& line : connections.sent[id]) bytes += line.size() + 1;
    return bytes;
  }
  bool Got(ClientId id, const std::string& line) {
    const std::vector<std::string>& lines = connections.sent[id];
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  session::ManualClock clock;
  session::SteppedClock stepped{clock};  // the session's clock: skips only with options.stepped
  wire::Transcript transcript;           // not opened: notes go nowhere
  session::StampedTranscript notes{stepped, transcript};
  market::Scenario scenario;
  FakeConnections connections;
  MarketSession session;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_MARKET_FIXTURE_H_
