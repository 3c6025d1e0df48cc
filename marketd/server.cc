#include "marketd/server.h"

#include <array>
#include <csignal>
#include <utility>
#include <vector>

#include <asio.hpp>

#include "session/clock.h"
#include "session/notes.h"
#include "wire/line_reader.h"

namespace marketd {
namespace {

using asio::ip::tcp;
using market::ClientId;
using market::Nanos;

// Bytes read from one connection before a tick is decided, at most: enough for every command a
// buyer could mean to send, without letting one flooding peer hold up the clock.
constexpr size_t kDrainLimit = 64 * 1024;

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
        wake_timer_(io_),
        signals_(io_, SIGINT, SIGTERM) {}

  bool Listen(std::string* error);
  uint16_t port() const { return port_; }
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
    std::array<char, 8192> buffer{};
    std::string writing;  // being written now
    std::string pending;  // queued behind it
    bool write_in_flight = false;
    bool output_closed = false;  // the engine closed it: shut down once the queue is written
    bool reading = true;
    bool gone = false;  // closed and removed
  };
  using ConnectionPtr = std::shared_ptr<Connection>;

  void Accept();
  void Read(const ConnectionPtr& c);
  void OnBytes(const ConnectionPtr& c, const char* data, size_t size, bool end);
  void Drain(const ConnectionPtr& c);
  void Write(const ConnectionPtr& c);
  void ShutdownOutput(const ConnectionPtr& c);
  void Remove(const ConnectionPtr& c);
  void OnWake();
  void Sync();

  market::Scenario scenario_;
  ServerOptions options_;
  session::SteadyClock clock_;
  wire::Transcript no_transcript_;  // never opened: notes go nowhere
  session::Notes notes_;
  MarketSession session_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  asio::steady_timer wake_timer_;
  std::optional<Nanos> wake_armed_;  // when wake_timer_ is set to fire
  asio::signal_set signals_;
  uint16_t port_ = 0;
  std::map<ClientId, ConnectionPtr> connections_;
  ClientId next_id_ = 1;
  NetworkStats stats_;
};

bool Server::Impl::Listen(std::string* error) {
  asio::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options_.host, ec);
  if (ec) {
    *error = "cannot listen on " + options_.host + ": not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, options_.port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + ": " +
             ec.message();
    return false;
  }
  port_ = acceptor_.local_endpoint().port();
  return true;
}

void Server::Impl::Run() {
  notes_.Event("listening on port " + std::to_string(port_));
  signals_.async_wait([this](const asio::error_code& ec, int) {
    if (ec) return;
    session_.Interrupt();
    Sync();
  });
  session_.Open();
  Accept();
  Sync();
  io_.run();
  stats_.session_time = session_.session_time();
}

void Server::Impl::Accept() {
  acceptor_.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (!ec) {
      ++stats_.connections;
      if (connections_.size() >= static_cast<size_t>(options_.max_connections)) {
        notes_.Event("connection refused: too many connections");
        asio::error_code ignored;
        socket.close(ignored);
      } else {
        asio::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        if (options_.send_buffer > 0) {
          socket.set_option(asio::socket_base::send_buffer_size(options_.send_buffer), ignored);
        }
        // Reads outside the read loop (before a tick is decided) must never block.
        socket.non_blocking(true, ignored);
        auto c = std::make_shared<Connection>(next_id_++, std::move(socket), options_.max_line);
        connections_[c->id] = c;
        session_.Connected(c->id);
        Read(c);
      }
    }
    Accept();
  });
}

void Server::Impl::Read(const ConnectionPtr& c) {
  c->socket.async_read_some(asio::buffer(c->buffer),
                            [this, c](const asio::error_code& ec, size_t n) {
                              if (c->gone || ec == asio::error::operation_aborted) return;
                              OnBytes(c, c->buffer.data(), n, static_cast<bool>(ec));
                              Sync();
                              if (!c->gone && c->reading) Read(c);
                            });
}

void Server::Impl::OnBytes(const ConnectionPtr& c, const char* data, size_t size, bool end) {
  stats_.bytes_received += static_cast<int64_t>(size);
  std::vector<wire::Line> lines;
  c->reader.Feed(std::string_view(data, size), &lines);
  if (end) c->reader.Finish(&lines);
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

// Reads what is already waiting on the connection, without blocking.
void Server::Impl::Drain(const ConnectionPtr& c) {
  size_t drained = 0;
  while (!c->gone && c->reading && drained < kDrainLimit) {
    asio::error_code ec;
    if (c->socket.available(ec) == 0 || ec) return;
    std::array<char, 8192> buffer;
    const size_t n = c->socket.read_some(asio::buffer(buffer), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) return;
    drained += n;
    OnBytes(c, buffer.data(), n, static_cast<bool>(ec));
  }
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
  if (!c->write_in_flight) Write(c);
  return Queued::kYes;
}

void Server::Impl::EndOutput(ClientId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  const ConnectionPtr c = it->second;
  c->output_closed = true;
  if (!c->write_in_flight) Write(c);
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
  asio::error_code ignored;
  acceptor_.close(ignored);
}

void Server::Impl::Write(const ConnectionPtr& c) {
  if (c->pending.empty()) {
    if (c->output_closed || !c->reading) ShutdownOutput(c);
    return;
  }
  c->writing.swap(c->pending);
  c->pending.clear();
  c->write_in_flight = true;
  asio::async_write(c->socket, asio::buffer(c->writing),
                    [this, c](const asio::error_code& ec, size_t n) {
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
  asio::error_code ignored;
  c->socket.shutdown(tcp::socket::shutdown_send, ignored);
}

// `c` must not refer to the map's own pointer, which is erased here.
void Server::Impl::Remove(const ConnectionPtr& c) {
  if (c->gone) return;
  c->gone = true;
  asio::error_code ignored;
  c->socket.close(ignored);
  const ClientId id = c->id;
  connections_.erase(id);
  session_.Gone(id);
}

void Server::Impl::OnWake() {
  wake_armed_.reset();
  if (session_.TickDue()) {
    // Bids that reached the server in time count at the price in force, from whichever
    // connection.
    std::vector<ConnectionPtr> all;
    for (const auto& [id, c] : connections_) all.push_back(c);
    for (const ConnectionPtr& c : all) Drain(c);
  }
  session_.Wake();
  Sync();
}

// After every handler: the timer follows the session's next wake; a finished session stops the
// run (no timer, no signal wait, no accept left).
void Server::Impl::Sync() {
  if (session_.finished()) {
    wake_timer_.cancel();
    signals_.cancel();
    StopAccepting();
    return;
  }
  const std::optional<Nanos> wake = session_.NextWake();
  if (wake == wake_armed_) return;
  wake_armed_ = wake;
  if (!wake) {
    wake_timer_.cancel();
    return;
  }
  wake_timer_.expires_at(clock_.At(*wake));
  wake_timer_.async_wait([this](const asio::error_code& ec) {
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
void Server::Run() { impl_->Run(); }
const market::Results& Server::results() const { return impl_->results(); }
market::EndReason Server::end_reason() const { return impl_->end_reason(); }
const NetworkStats& Server::stats() const { return impl_->stats(); }

}  // namespace marketd
