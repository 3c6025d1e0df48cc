#include "marketd/server.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <utility>
#include <vector>

#include <poll.h>

#include <boost/asio.hpp>

#include "marketd/monitor_server.h"
#include "session/clock.h"
#include "session/intake.h"
#include "session/stamped_transcript.h"
#include "wire/line_reader.h"

namespace marketd {
namespace {

using boost::asio::ip::tcp;
using market::ClientId;
using market::Nanos;

// Bytes read in one go from a connection: other connections are served between two reads.
constexpr size_t kReadChunk = 4096;
// After accept() fails for want of descriptors (or memory), accepting waits this long: the
// connections already open are served meanwhile instead of a spin on the failing call.
constexpr std::chrono::milliseconds kAcceptBackOff{100};

}  // namespace

class Server::Impl : public Connections {
 public:
  Impl(const market::Scenario& scenario, uint64_t seed, const ServerOptions& options,
       wire::Transcript* transcript)
      : scenario_(scenario),
        options_(options),
        notes_(clock_, transcript != nullptr ? *transcript : no_transcript_),
        session_(scenario_, seed, options, clock_, notes_, *this),
        acceptor_(io_),
        accept_timer_(io_),
        wake_timer_(io_),
        signals_(io_, SIGINT, SIGTERM, SIGHUP) {
    if (options_.http) {
      monitor_ = std::make_unique<MonitorServer>(
          io_, MonitorOptions{options_.http_host, options_.http_port, options_.http_queue_limit,
                              options_.send_buffer, options_.http_max_connections});
      session_.Watch(monitor_.get());
    }
    if (options_.stepped) session_.StepOn(clock_);
  }

  bool Listen(std::string* error);
  uint16_t port() const { return port_; }
  uint16_t http_port() const { return monitor_ ? monitor_->port() : 0; }
  void Run();
  const market::Results& results() const { return session_.results(); }
  market::EndReason end_reason() const { return session_.end_reason(); }
  const NetworkStats& stats() const { return stats_; }

  // Connections, for the session.
  Queued Queue(ClientId id, const std::string& line) override;
  void EndOutput(ClientId id) override;
  bool HasUnsent(ClientId id) const override;
  void Close(ClientId id) override;
  void StopAccepting() override;

 private:
  struct Connection {
    Connection(ClientId client, tcp::socket s, size_t max_line)
        : id(client), socket(std::move(s)), reader(max_line) {}
    ClientId id;
    tcp::socket socket;
    wire::LineReader reader;
    size_t read_this_tick = 0;   // bytes read since the last tick was decided
    size_t lines_this_tick = 0;  // lines taken in since then
    bool Spent() const {
      return read_this_tick >= session::kTickReadBudget ||
             lines_this_tick >= session::kTickLineBudget;
    }
    std::string writing;  // being written now
    std::string pending;  // queued behind it
    bool write_in_flight = false;
    bool flush_due = false;      // lines queued in this handler: written when it ends (Sync)
    bool output_closed = false;  // the engine closed it: shut down once the queue is written
    bool reading = true;
    bool waiting = false;   // a wait for input is armed
    bool stepping = false;  // the next read is posted
    bool paused = false;    // its read budget for this tick is spent: resumed after the tick
    bool gone = false;      // closed and removed
  };
  using ConnectionPtr = std::shared_ptr<Connection>;

  void Accept();
  void Read(const ConnectionPtr& c);
  void Step(const ConnectionPtr& c);
  void Continue(const ConnectionPtr& c);
  bool ReadNow(const ConnectionPtr& c, size_t limit);
  // The connections among `all` with bytes (or an end) waiting to be read, found by one poll().
  std::vector<ConnectionPtr> Waiting(const std::vector<ConnectionPtr>& all) const;
  void OnBytes(const ConnectionPtr& c, const char* data, size_t size, bool end);
  void Write(const ConnectionPtr& c);
  void ShutdownOutput(const ConnectionPtr& c);
  void Remove(const ConnectionPtr& c);
  void OnWake();
  void Sync();
  // A connection whose queued lines are to be written when the handler ends: every line one
  // event queues (a sale, the next good, its first price) leaves in one write, so no buyer's next
  // price waits for a second round of writes to everyone.
  void FlushDue(const ConnectionPtr& c);
  void FlushWrites();
  std::vector<ConnectionPtr> unflushed_;

  market::Scenario scenario_;
  ServerOptions options_;
  session::SteadyClock steady_;
  // The session's time: the steady clock's, moved on to a tick's deadline when the session runs
  // on the stepped clock and every buyer is idle.
  session::SteppedClock clock_{steady_};
  wire::Transcript no_transcript_;  // never opened: notes go nowhere
  session::StampedTranscript notes_;
  MarketSession session_;
  boost::asio::io_context io_;
  tcp::acceptor acceptor_;
  boost::asio::steady_timer accept_timer_;
  bool accept_failing_ = false;  // noted once per run of failures
  boost::asio::steady_timer wake_timer_;
  // When wake_timer_ is set to fire, on the steady clock.
  std::optional<std::chrono::steady_clock::time_point> wake_armed_;
  boost::asio::signal_set signals_;
  uint16_t port_ = 0;
  std::map<ClientId, ConnectionPtr> connections_;
  ClientId next_id_ = 1;
  NetworkStats stats_;
  std::unique_ptr<MonitorServer> monitor_;  // after io_: gone before it
};

bool Server::Impl::Listen(std::string* error) {
  boost::system::error_code ec;
  const boost::asio::ip::address address = boost::asio::ip::make_address(options_.host, ec);
  if (ec) {
    *error = "cannot listen on " + options_.host + ": not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, options_.port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(boost::asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + ": " +
             ec.message();
    return false;
  }
  port_ = acceptor_.local_endpoint().port();
  return !monitor_ || monitor_->Listen(error);
}

void Server::Impl::Run() {
  notes_.Event("listening on port " + std::to_string(port_));
  signals_.async_wait([this](const boost::system::error_code& ec, int) {
    if (ec) return;
    session_.Interrupt();
    Sync();
  });
  session_.Open();
  if (monitor_) monitor_->Start();
  Accept();
  Sync();
  io_.run();
  stats_.session_time = session_.session_time();
  if (monitor_) {
    stats_.viewers = monitor_->served();
    stats_.viewers_dropped = monitor_->dropped();
    stats_.monitor_faults = monitor_->faults();
  }
}

void Server::Impl::Accept() {
  acceptor_.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
    if (ec == boost::asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (ec) {
      // Out of descriptors or memory: the pending connection stays queued in the kernel, and
      // accepting resumes after a pause rather than failing again at once.
      if (!accept_failing_) notes_.Event("accept failed: " + ec.message() + "; pausing");
      accept_failing_ = true;
      accept_timer_.expires_after(kAcceptBackOff);
      accept_timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error && acceptor_.is_open()) Accept();
      });
      return;
    }
    accept_failing_ = false;
    ++stats_.connections;
    if (connections_.size() >= static_cast<size_t>(options_.max_connections)) {
      notes_.Event("connection refused: too many connections");
      ++stats_.refused;
      boost::system::error_code ignored;
      socket.close(ignored);
    } else {
      boost::system::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      if (options_.send_buffer > 0) {
        socket.set_option(boost::asio::socket_base::send_buffer_size(options_.send_buffer),
                          ignored);
      }
      // Reads are made only when bytes are waiting, and must never block.
      socket.non_blocking(true, ignored);
      std::string peer;
      const tcp::endpoint remote = socket.remote_endpoint(ignored);
      if (!ignored) peer = remote.address().to_string();
      auto c = std::make_shared<Connection>(next_id_++, std::move(socket), options_.max_line);
      connections_[c->id] = c;
      session_.Connected(c->id, peer);
      session_.AfterEvent();
      if (!c->gone) Read(c);
      Sync();
    }
    Accept();
  });
}

// Input is read only when bytes are waiting, and at once: bytes stay in the kernel, in order,
// until they are handled, so a read before a tick never overtakes bytes read earlier. One chunk
// a turn, so that every connection is served in turn; a connection whose budget for the tick is
// spent pauses until the next tick.
void Server::Impl::Read(const ConnectionPtr& c) {
  if (c->gone || !c->reading || c->waiting || c->paused || c->stepping) return;
  c->waiting = true;
  c->socket.async_wait(tcp::socket::wait_read, [this, c](const boost::system::error_code& ec) {
    c->waiting = false;
    if (c->gone || ec == boost::asio::error::operation_aborted) return;
    if (ec) {
      OnBytes(c, nullptr, 0, true);
    } else {
      Step(c);
    }
    Sync();
  });
}

void Server::Impl::Step(const ConnectionPtr& c) {
  const bool more = ReadNow(c, kReadChunk);
  if (c->gone || !c->reading) return;
  if (c->Spent()) {
    c->paused = true;  // what it sends beyond its budget waits for the next tick
  } else if (more) {
    Continue(c);
  } else {
    Read(c);
  }
}

// Reads the next chunk after the handlers already waiting have run.
void Server::Impl::Continue(const ConnectionPtr& c) {
  if (c->stepping) return;
  c->stepping = true;
  boost::asio::post(io_, [this, c] {
    c->stepping = false;
    if (c->gone || c->paused) return;
    Step(c);
    Sync();
  });
}

// Reads up to `limit` bytes that are waiting, within the connection's budget for the tick, and
// hands them on. True when it stopped with bytes perhaps still waiting.
bool Server::Impl::ReadNow(const ConnectionPtr& c, size_t limit) {
  size_t total = 0;
  while (!c->gone && c->reading) {
    if (total >= limit || c->Spent()) return true;
    std::array<char, kReadChunk> buffer;
    const size_t room =
        std::min({buffer.size(), limit - total, session::kTickReadBudget - c->read_this_tick});
    boost::system::error_code ec;
    const size_t n = c->socket.read_some(boost::asio::buffer(buffer.data(), room), ec);
    if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) return false;
    total += n;
    c->read_this_tick += n;
    OnBytes(c, buffer.data(), n, static_cast<bool>(ec));
    if (ec) return false;
  }
  return false;
}

// One poll() instead of a read per connection: the tick's deadline is the busiest moment, and most
// connections have nothing waiting.
std::vector<Server::Impl::ConnectionPtr> Server::Impl::Waiting(
    const std::vector<ConnectionPtr>& all) const {
  std::vector<pollfd> fds;
  std::vector<ConnectionPtr> candidates;
  for (const ConnectionPtr& c : all) {
    if (c->gone || !c->reading || c->Spent()) continue;
    fds.push_back({c->socket.native_handle(), POLLIN, 0});
    candidates.push_back(c);
  }
  std::vector<ConnectionPtr> waiting;
  if (fds.empty()) return waiting;
  if (::poll(fds.data(), fds.size(), 0) < 0) return candidates;  // poll failed: read them all
  for (size_t i = 0; i < fds.size(); ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) waiting.push_back(candidates[i]);
  }
  return waiting;
}

void Server::Impl::OnBytes(const ConnectionPtr& c, const char* data, size_t size, bool end) {
  stats_.bytes_received += static_cast<int64_t>(size);
  std::vector<wire::Line> lines;
  if (size > 0) c->reader.Feed(std::string_view(data, size), &lines);
  if (end) c->reader.Finish(&lines);
  c->lines_this_tick += lines.size();
  for (const wire::Line& line : lines) {
    if (c->gone) break;
    ++stats_.lines_received;
    session_.Received(c->id, line);
  }
  if (end && !c->gone) {
    c->reading = false;
    session_.InputEnded(c->id, "connection ended");
  }
  session_.AfterEvent();
}

Connections::Queued Server::Impl::Queue(ClientId id, const std::string& line) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return Queued::kIgnored;
  const ConnectionPtr c = it->second;
  if (c->gone || c->output_closed) return Queued::kIgnored;
  if (c->writing.size() + c->pending.size() + line.size() + 1 > options_.queue_limit) {
    return Queued::kOverflow;
  }
  c->pending += line;
  c->pending += '\n';
  ++stats_.lines_sent;
  FlushDue(c);
  return Queued::kYes;
}

void Server::Impl::EndOutput(ClientId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  const ConnectionPtr c = it->second;
  c->output_closed = true;
  FlushDue(c);
}

bool Server::Impl::HasUnsent(ClientId id) const {
  auto it = connections_.find(id);
  return it != connections_.end() && (it->second->write_in_flight || !it->second->pending.empty());
}

void Server::Impl::Close(ClientId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  const ConnectionPtr c = it->second;  // a copy: Remove erases the map's
  Remove(c);
}

void Server::Impl::StopAccepting() {
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  accept_timer_.cancel();
}

void Server::Impl::Write(const ConnectionPtr& c) {
  if (c->pending.empty()) {
    if (c->output_closed || !c->reading) ShutdownOutput(c);
    return;
  }
  c->writing.swap(c->pending);
  c->pending.clear();
  c->write_in_flight = true;
  boost::asio::async_write(c->socket, boost::asio::buffer(c->writing),
                           [this, c](const boost::system::error_code& ec, size_t n) {
                             c->write_in_flight = false;
                             if (c->gone) return;
                             stats_.bytes_sent += static_cast<int64_t>(n);
                             c->writing.clear();
                             if (ec) {
                               session_.OutputFailed(c->id, ec.message());
                               session_.AfterEvent();
                             } else {
                               Write(c);
                             }
                             Sync();
                           });
}

// The output is complete: admitted buyers keep their input open (their last commands are still
// read); anyone else is done with.
void Server::Impl::ShutdownOutput(const ConnectionPtr& c) {
  if (!session_.Admitted(c->id) || !c->reading) {
    Remove(c);
    return;
  }
  boost::system::error_code ignored;
  c->socket.shutdown(tcp::socket::shutdown_send, ignored);
}

// `c` must not refer to the map's own pointer, which is erased here.
void Server::Impl::Remove(const ConnectionPtr& c) {
  if (c->gone) return;
  c->gone = true;
  boost::system::error_code ignored;
  c->socket.close(ignored);
  const ClientId id = c->id;
  connections_.erase(id);
  session_.Gone(id);
}

void Server::Impl::OnWake() {
  wake_armed_.reset();
  const bool tick = session_.TickDue();
  std::vector<ConnectionPtr> all;
  for (const auto& [id, c] : connections_) all.push_back(c);
  if (tick) {
    // Bids that reached the server in time count at the price in force, from whichever
    // connection: what is waiting is read first, within each connection's budget.
    for (const ConnectionPtr& c : Waiting(all)) ReadNow(c, session::kTickReadBudget);
  }
  session_.Wake();
  if (tick) {
    // A new tick: every budget is whole again.
    for (const ConnectionPtr& c : all) {
      c->read_this_tick = 0;
      c->lines_this_tick = 0;
      c->paused = false;
      Continue(c);  // what a tick's read left waiting is read on
    }
  }
  notes_.Flush();
  Sync();
}

// After every handler: the timer follows the session's next wake; a finished session stops the
// run (no timer, no signal wait, no accept left).
void Server::Impl::FlushDue(const ConnectionPtr& c) {
  if (c->flush_due) return;
  c->flush_due = true;
  unflushed_.push_back(c);
}

void Server::Impl::FlushWrites() {
  while (!unflushed_.empty()) {
    std::vector<ConnectionPtr> due;
    due.swap(unflushed_);
    for (const ConnectionPtr& c : due) {
      c->flush_due = false;
      if (!c->gone && !c->write_in_flight) Write(c);
    }
  }
}

void Server::Impl::Sync() {
  FlushWrites();
  if (session_.finished()) {
    wake_timer_.cancel();
    signals_.cancel();
    StopAccepting();
    return;
  }
  const std::optional<Nanos> wake = session_.NextWake();
  if (!wake) {
    if (wake_armed_) wake_timer_.cancel();
    wake_armed_.reset();
    return;
  }
  // The session's time is ahead of the steady clock by what the stepped clock skipped.
  const std::chrono::steady_clock::time_point at = steady_.At(*wake - clock_.skipped());
  if (at == wake_armed_) return;
  wake_armed_ = at;
  wake_timer_.expires_at(at);
  wake_timer_.async_wait([this](const boost::system::error_code& ec) {
    if (ec) return;
    OnWake();
  });
}

Server::Server(const market::Scenario& scenario, uint64_t seed, const ServerOptions& options,
               wire::Transcript* transcript)
    : impl_(std::make_unique<Impl>(scenario, seed, options, transcript)) {}
Server::~Server() = default;
bool Server::Listen(std::string* error) { return impl_->Listen(error); }
uint16_t Server::port() const { return impl_->port(); }
uint16_t Server::http_port() const { return impl_->http_port(); }
void Server::Run() { impl_->Run(); }
const market::Results& Server::results() const { return impl_->results(); }
market::EndReason Server::end_reason() const { return impl_->end_reason(); }
const NetworkStats& Server::stats() const { return impl_->stats(); }

}  // namespace marketd
