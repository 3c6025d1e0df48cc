// The networked market: the market engine served over TCP to many buyers at once, each on its own
// connection speaking the same line protocol as the embedded gateway.
//
// What a caller may rely on:
// - Admission: connections are accepted from Listen on; the admission window (the scenario's
//   admission_window_ms) opens at Run. The session starts once the window has passed and at least
//   min_buyers are admitted, or at once when the market is full (BuyerCapacity); until then the
//   window stays open. A connection after the start is answered "deny market_running".
// - Every admitted buyer gets the same market messages in the same order. Lines received before a
//   tick's deadline is handled are bids at the price in force, whatever their connection: the
//   bytes already waiting on every connection are read before the tick is decided.
// - Faults: a line longer than max_line bytes, or a line that is no command, is refused and
//   recorded; after max_faults of them the connection is closed. A connection whose unsent
//   output would pass queue_limit bytes is closed at once: a slow reader never holds up the
//   clock. Each such drop is recorded in the results; the buyer leaves the market as if it had
//   disconnected (dropped from the next buyers list, cannot win; its purchases stand).
// - The end: after closed_market every connection's output is closed and the server reads what
//   its buyers still send (late bids are counted) until they close or `linger` passes. When every
//   admitted buyer has gone mid-session, the session ends early. Run returns when all is done.
// - With options.http, the live monitor (monitor_server.h) is served on the same event loop; its
//   viewers never hold up the clock.
// Single-threaded: one io_context, no locks; every handler runs on the thread that calls Run.
// The rules above are MarketSession's (market_session.h); this is their Asio transport.
#ifndef MARKETD_SERVER_H_
#define MARKETD_SERVER_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/scenario.h"
#include "marketd/market_session.h"
#include "wire/transcript.h"

namespace marketd {

// Traffic figures of a run.
struct NetworkStats {
  int64_t connections = 0;     // accepted
  int64_t refused = 0;         // closed at once: max_connections were open
  int64_t lines_sent = 0;      // one per line per connection it went to
  int64_t lines_received = 0;  // whole lines, overlong ones included
  int64_t bytes_sent = 0;
  int64_t bytes_received = 0;
  market::Nanos session_time{0};  // from the start of the session to the market's close (or end)
  int64_t viewers = 0;            // live monitor event streams opened
  int64_t viewers_dropped = 0;    // closed for falling behind
  int64_t monitor_faults = 0;     // monitor connections closed for an exception caught
};

class Server {
 public:
  Server(const market::Scenario& scenario, uint64_t seed, const ServerOptions& options,
         wire::Transcript* transcript);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens. False, with *error set to one line, when it cannot.
  bool Listen(std::string* error);
  // The port listened on (the one picked when the options asked for 0).
  uint16_t port() const;
  // The live monitor's port; 0 when the options did not ask for it.
  uint16_t http_port() const;

  // Runs the admission window and the session to their end. SIGINT, SIGTERM and SIGHUP end the
  // session early ("interrupted"), with its summary and results.
  void Run();

  const market::Results& results() const;
  market::EndReason end_reason() const;
  const NetworkStats& stats() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace marketd

#endif  // MARKETD_SERVER_H_
