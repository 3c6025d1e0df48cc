// The live monitor over HTTP: a read-only page that shows the market as it happens, served on
// marketd's own event loop beside the market (Boost.Beast on the same io_context: one thread, no
// locks, no hand-off).
//
//   GET /        the page (one self-contained HTML document, see monitor_page.h)
//   GET /state   a JSON snapshot (MonitorFeed::State)
//   GET /events  Server-Sent Events: first an "event: state" with the snapshot, then one message
//                per market event, each a JSON object (MonitorFeed); the last one is {"type":"end"}
//
// What a caller may rely on:
// - Each connection is handled by a MonitorConnection (monitor_connection.h): only GET (405
//   otherwise), no request body (413 as soon as the header shows one), headers within
//   MonitorConnection::kHeaderLimit bytes (431), a malformed request 400, an unknown path 404; a
//   request not complete within kRequestDeadline is closed. Every answer closes its connection.
//   A connection holds at most MonitorConnection::kHeldLimit bytes of its request, plus a 4 KiB
//   read buffer and its answer.
// - No exception leaves the monitor for the event loop or the market: one raised while handling
//   a connection closes that connection, one raised while publishing closes every viewer; each
//   is counted in faults().
// - At most max_connections HTTP connections at once (more are closed at once) and at most
//   MonitorViewers::kMaxViewers event streams (more are answered 503).
// - Viewers never hold up the market: every write is asynchronous, and a viewer whose unsent
//   bytes would pass the queue limit (MonitorViewers::kQueueLimit unless set) is closed (counted
//   in dropped()).
// - After Finished, no connection is accepted; the viewers are sent what is queued (the end
//   event included) and closed, at the latest kFlushDeadline later. Then nothing of the monitor
//   is left on the event loop.
// - Nothing served holds a password: only what the market makes public comes in.
#ifndef MARKETD_MONITOR_SERVER_H_
#define MARKETD_MONITOR_SERVER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "marketd/market_watcher.h"
#include "marketd/monitor_viewers.h"

namespace boost::asio {
class io_context;
}

namespace marketd {

struct MonitorOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port
  size_t queue_limit = MonitorViewers::kQueueLimit;
  int send_buffer = 0;  // the kernel's send buffer per connection; 0: the system's
  // HTTP connections open at once, at most MonitorServer::kMaxConnections: the monitor's share of
  // the descriptors (descriptors.h).
  size_t max_connections = 128;
};

class MonitorServer : public MarketWatcher {
 public:
  static constexpr size_t kMaxConnections = 128;
  static constexpr std::chrono::seconds kRequestDeadline{5};
  static constexpr std::chrono::seconds kFlushDeadline{1};

  MonitorServer(boost::asio::io_context& io, const MonitorOptions& options);
  ~MonitorServer() override;
  MonitorServer(const MonitorServer&) = delete;
  MonitorServer& operator=(const MonitorServer&) = delete;

  // Binds and listens. False, with *error set to one line, when it cannot.
  bool Listen(std::string* error);
  // The port listened on (the one picked when asked for 0).
  uint16_t port() const;
  // Starts accepting (on the io_context's thread, when it runs).
  void Start();

  // MarketWatcher.
  void Broadcast(const std::string& line) override;
  void Bid(const std::string& login) override;
  void Finished() override;

  size_t viewers() const;   // watching now
  int64_t served() const;   // event streams opened so far
  int64_t dropped() const;  // viewers closed for falling behind
  int64_t faults() const;   // connections closed for an exception caught (see above)

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace marketd

#endif  // MARKETD_MONITOR_SERVER_H_
