// The rules of a networked market session, apart from the sockets: admission window, min_buyers
// and a full market, ticks, faults and drops, the close and the linger time, the early end. The
// server (server.h) feeds it connections, lines and the clock's wake-ups and carries out what it
// asks of the connections; the rules themselves run the same on any clock.
#ifndef MARKETD_MARKET_SESSION_H_
#define MARKETD_MARKET_SESSION_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/scenario.h"
#include "marketd/market_watcher.h"
#include "session/clock.h"
#include "session/stamped_transcript.h"
#include "session/stepped_clock.h"
#include "wire/line_reader.h"

namespace marketd {

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 7411;          // 0: any free port (see Server::port)
  size_t max_line = 4096;        // longest command line, in bytes without the newline
  int max_faults = 3;            // refused lines before the connection is closed
  size_t queue_limit = 1 << 20;  // unsent output per connection, in bytes
  int send_buffer = 0;           // the kernel's send buffer per connection; 0: the system's
  int max_connections = 512;     // connections open at once; more are closed at once
  std::chrono::milliseconds linger{5000};
  // A connection that has not logged in by then is closed. Connections not logged in hold at
  // most max_connections less the market's capacity: the rest are kept for registered buyers, and
  // a new connection past that bound pushes out the oldest one not logged in.
  std::chrono::milliseconds admission_timeout{10000};
  // The live monitor over HTTP (monitor_server.h): off unless `http` is set.
  bool http = false;
  std::string http_host = "127.0.0.1";
  uint16_t http_port = 0;                // 0: any free port (see Server::http_port)
  size_t http_queue_limit = 256 * 1024;  // unsent bytes per viewer before it is dropped
  // The monitor's HTTP connections open at once: with max_connections, what the descriptor
  // limit allows (descriptors.h).
  size_t http_max_connections = 128;
  // The stepped clock (MarketSession::StepOn) instead of the real one.
  bool stepped = false;
};

// What the session asks of the connections it serves.
class Connections {
 public:
  enum class Queued { kYes, kIgnored, kOverflow };

  virtual ~Connections() = default;
  // Queues one line (without its newline) on the connection's output: kIgnored when its output
  // is already closed, kOverflow (nothing queued) when the unsent bytes would pass queue_limit.
  virtual Queued Queue(market::ClientId id, const std::string& line) = 0;
  // The connection's output is complete: it is shut once what is queued has been written.
  virtual void EndOutput(market::ClientId id) = 0;
  // True while output is queued or being written.
  virtual bool HasUnsent(market::ClientId id) const = 0;
  // Closes the connection at once; its end is reported back through MarketSession::Gone.
  virtual void Close(market::ClientId id) = 0;
  // No more connections are accepted.
  virtual void StopAccepting() = 0;
};

class MarketSession {
 public:
  MarketSession(const market::Scenario& scenario, uint64_t seed, const ServerOptions& options,
                const session::Clock& clock, session::StampedTranscript& notes,
                Connections& connections);

  // From now on `watcher` (nullptr: none) hears what the market makes public; it must outlive
  // the session.
  void Watch(MarketWatcher* watcher) { watcher_ = watcher; }
  // The session runs on the stepped clock `clock`, which must be the clock it was given: a tick
  // ends as soon as every admitted connection's relay has said its agent is idle (wire/idle_line.h)
  // since the last line it was sent, or at the tick's deadline. A tick that ends at its deadline
  // is a late tick of each admitted connection that had not said so. Call before Open.
  void StepOn(session::SteppedClock& clock);
  // The admission window opens now.
  void Open();
  // A new connection, numbered by the server; `peer` is its address (no port), empty if unknown.
  void Connected(market::ClientId id, const std::string& peer = "");
  // One line read from a connection (call AfterEvent once the bytes read are taken in).
  void Received(market::ClientId id, const wire::Line& line);
  // The connection's input ended (or failed), `why` for the transcript.
  void InputEnded(market::ClientId id, const std::string& why);
  // Writing to the connection failed: it is closed.
  void OutputFailed(market::ClientId id, const std::string& why);
  // The connection was closed (by the server or at the session's request).
  void Gone(market::ClientId id);
  // SIGINT, SIGTERM or SIGHUP: the session ends early, "interrupted".
  void Interrupt();
  // After anything happened: sends what the engine produced, starts the session when it is time
  // and checks how it stands.
  void AfterEvent();

  // When Wake is next due (a tick, the end of the window or of the linger time); empty: nothing
  // is waited for.
  std::optional<market::Nanos> NextWake() const;
  // True when a tick is due at the next wake: the server reads what every connection has
  // waiting before calling Wake, so that bids sent in time count at the price in force.
  bool TickDue() const;
  // Does what is due by now.
  void Wake();

  bool finished() const { return finished_; }
  bool stepped() const { return stepped_ != nullptr; }
  bool Admitted(market::ClientId id) const { return engine_.Admitted(id); }
  const market::Results& results() const { return engine_.results(); }
  const market::Engine& engine() const { return engine_; }
  market::EndReason end_reason() const { return engine_.end_reason(); }
  // From the start of the session to the market's close (or end); zero if it never started.
  market::Nanos session_time() const { return session_time_; }

 private:
  void Deliver();
  void DeliverBatch(const std::vector<market::Outgoing>& batch);
  void Send(market::ClientId id, const std::string& line);
  void Drop(market::ClientId id, const std::string& reason);
  void MaybeStart();
  void SessionClosed();
  void Finish();
  // On the stepped clock: the connection's relay has said its agent is idle since the connection
  // was last sent a line; AllIdle, every admitted connection's has.
  bool Idle(market::ClientId id) const;
  bool AllIdle() const;
  // On the stepped clock, when a tick is pending and every admitted connection is idle: the clock
  // moves on to the tick's deadline.
  void MaybeStep();
  // Tells the watcher the bids of the tick about to be decided.
  void TellBids();
  std::string Tag(market::ClientId id) const { return "#" + std::to_string(id) + " "; }

  const market::Scenario& scenario_;
  ServerOptions options_;
  const session::Clock& clock_;
  session::StampedTranscript& notes_;
  Connections& connections_;
  market::Engine engine_;
  void CloseLateAdmissions();
  std::set<market::ClientId> open_;
  std::map<market::ClientId, market::Nanos> not_admitted_;  // open and not logged in: since when
  std::map<market::ClientId, int> faults_;
  MarketWatcher* watcher_ = nullptr;
  session::SteppedClock* stepped_ = nullptr;
  std::map<market::ClientId, uint64_t> bytes_sent_;  // queued to the connection so far
  std::map<market::ClientId, uint64_t> idle_at_;     // its relay's last "~idle N"
  int64_t ticks_idle_ = 0;                           // stepped ticks that ended with all idle
  int64_t ticks_deadline_ = 0;                       // and at their deadline
  size_t bids_told_ = 0;                             // the results' bids the watcher has heard of
  std::optional<market::Nanos> window_ends_;         // while the window has not passed
  std::optional<market::Nanos> linger_ends_;         // once the market has closed
  bool finish_due_ = false;  // lingering and every connection gone: finish at the next wake
  bool started_ = false;
  bool finished_ = false;
  market::Nanos session_start_{0};
  market::Nanos session_time_{0};
};

}  // namespace marketd

#endif  // MARKETD_MARKET_SESSION_H_
