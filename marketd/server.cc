#include "marketd/server.h"

#include <array>
#include <csignal>
#include <deque>
#include <utility>
#include <vector>

#include <asio.hpp>

#include "gateway/line_reader.h"
#include "gateway/transcript.h"
#include "engine/commands.h"

namespace marketd {
namespace {

using asio::ip::tcp;
using market::ClientId;
using market::Engine;
using market::Nanos;

// Bytes read from one connection before a tick is decided, at most: enough for every command a
// buyer could mean to send, without letting one flooding peer hold up the clock.
constexpr size_t kDrainLimit = 64 * 1024;

}  // namespace

class Server::Impl {
 public:
  Impl(const market::Scenario& scenario, uint64_t seed, const ServerOptions& options,
       gateway::Transcript* transcript)
      : scenario_(scenario),
        options_(options),
        transcript_(transcript),
        engine_(scenario, seed),
        acceptor_(io_),
        window_timer_(io_),
        tick_timer_(io_),
        linger_timer_(io_),
        signals_(io_, SIGINT, SIGTERM),
        start_(std::chrono::steady_clock::now()) {}

  bool Listen(std::string* error);
  uint16_t port() const { return port_; }
  void Run();
  const market::Results& results() const { return engine_.results(); }
  const NetworkStats& stats() const { return stats_; }

 private:
  struct Connection {
    Connection(ClientId client, tcp::socket s, size_t max_line)
        : id(client), socket(std::move(s)), reader(max_line) {}
    ClientId id;
    tcp::socket socket;
    gateway::LineReader reader;
    std::array<char, 8192> buffer{};
    int faults = 0;
    std::string writing;  // being written now
    std::string pending;  // queued behind it
    bool write_in_flight = false;
    bool output_closed = false;  // the engine closed it: shut down once the queue is written
    bool reading = true;
    bool gone = false;  // closed and removed
  };
  using ConnectionPtr = std::shared_ptr<Connection>;

  Nanos Now() const {
    return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - start_);
  }
  void Note(char direction, const std::string& text) {
    if (transcript_ == nullptr) return;
    if (direction == '>') transcript_->Sent(Now(), text);
    if (direction == '<') transcript_->Received(Now(), text);
    if (direction == '!') transcript_->Event(Now(), text);
  }

  void Accept();
  void Read(const ConnectionPtr& c);
  void OnBytes(const ConnectionPtr& c, const char* data, size_t size, bool end);
  void HandleLine(const ConnectionPtr& c, const gateway::Line& line);
  void Drain(const ConnectionPtr& c);
  void Send(const ConnectionPtr& c, const std::string& line);
  void Write(const ConnectionPtr& c);
  void ShutdownOutput(const ConnectionPtr& c);
  void Drop(const ConnectionPtr& c, const std::string& reason);
  void Remove(const ConnectionPtr& c);
  void ReadEnded(const ConnectionPtr& c, const char* why);

  void Deliver();
  void DeliverBatch(const std::vector<market::Outgoing>& batch);
  void AfterEvent();
  void MaybeStart();
  void ScheduleTick();
  void OnTick();
  void SessionClosed();
  void Finish();

  market::Scenario scenario_;
  ServerOptions options_;
  gateway::Transcript* transcript_;
  Engine engine_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  asio::steady_timer window_timer_;
  asio::steady_timer tick_timer_;
  asio::steady_timer linger_timer_;
  asio::signal_set signals_;
  std::chrono::steady_clock::time_point start_;
  uint16_t port_ = 0;
  std::map<ClientId, ConnectionPtr> connections_;
  ClientId next_id_ = 1;
  bool window_passed_ = false;
  bool started_ = false;
  bool lingering_ = false;
  bool finished_ = false;
  Nanos session_start_{0};
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
  Note('!', "listening on port " + std::to_string(port_));
  signals_.async_wait([this](const asio::error_code& ec, int) {
    if (ec || finished_) return;
    Note('!', "interrupted");
    engine_.Abandon("interrupted");
    Finish();
  });
  window_timer_.expires_after(std::chrono::milliseconds(scenario_.admission_window_ms));
  window_timer_.async_wait([this](const asio::error_code& ec) {
    if (ec) return;
    window_passed_ = true;
    MaybeStart();
  });
  Accept();
  io_.run();
}

void Server::Impl::Accept() {
  acceptor_.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (!ec) {
      ++stats_.connections;
      if (connections_.size() >= static_cast<size_t>(options_.max_connections)) {
        Note('!', "connection refused: too many connections");
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
        engine_.Connect(c->id, std::nullopt);
        Note('!', "#" + std::to_string(c->id) + " connected");
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
                              if (!c->gone && c->reading) Read(c);
                            });
}

void Server::Impl::OnBytes(const ConnectionPtr& c, const char* data, size_t size, bool end) {
  stats_.bytes_received += static_cast<int64_t>(size);
  std::vector<gateway::Line> lines;
  c->reader.Feed(std::string_view(data, size), &lines);
  if (end) c->reader.Finish(&lines);
  for (const gateway::Line& line : lines) {
    if (c->gone) break;
    HandleLine(c, line);
  }
  if (end && !c->gone) ReadEnded(c, "connection ended");
  AfterEvent();
}

void Server::Impl::HandleLine(const ConnectionPtr& c, const gateway::Line& line) {
  ++stats_.lines_received;
  const std::string tag = "#" + std::to_string(c->id) + " ";
  if (line.overlong) {
    Note('<', tag + line.text.substr(0, 80) + "... (overlong line refused)");
    engine_.RecordIgnored(
        c->id, line.text,
        ("line longer than " + std::to_string(options_.max_line) + " bytes").c_str());
    engine_.RecordFault(c->id);
    ++c->faults;
  } else {
    Note('<', tag + line.text);
    if (market::ParseCommand(line.text).kind == market::Command::Kind::kUnknown) ++c->faults;
    engine_.OnLine(c->id, line.text, Now());
  }
  if (c->faults >= options_.max_faults && !c->gone) {
    Deliver();  // what the engine answered before the fault goes out first
    Drop(c, "too many faults (" + std::to_string(c->faults) + " lines refused)");
  }
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

void Server::Impl::Send(const ConnectionPtr& c, const std::string& line) {
  if (c->gone || c->output_closed) return;
  if (c->writing.size() + c->pending.size() + line.size() + 1 > options_.queue_limit) {
    Drop(c, "output queue overflow (" + std::to_string(options_.queue_limit) + " bytes unsent)");
    return;
  }
  c->pending += line;
  c->pending += '\n';
  ++stats_.lines_sent;
  if (!c->write_in_flight) Write(c);
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
                        Note('!', "#" + std::to_string(c->id) + " output failed: " + ec.message());
                        engine_.Disconnect(c->id);
                        Remove(c);
                        AfterEvent();
                        return;
                      }
                      Write(c);
                    });
}

// The output is complete: admitted buyers keep their input open (their last commands are still
// read); anyone else is done with.
void Server::Impl::ShutdownOutput(const ConnectionPtr& c) {
  if (!engine_.Admitted(c->id) || !c->reading) {
    Remove(c);
    return;
  }
  asio::error_code ignored;
  c->socket.shutdown(tcp::socket::shutdown_send, ignored);
}

void Server::Impl::Drop(const ConnectionPtr& c, const std::string& reason) {
  if (c->gone) return;
  Note('!', "#" + std::to_string(c->id) + " dropped: " + reason);
  engine_.RecordDrop(c->id, reason);
  engine_.Disconnect(c->id);
  Remove(c);
}

void Server::Impl::Remove(const ConnectionPtr& c) {
  if (c->gone) return;
  c->gone = true;
  asio::error_code ignored;
  c->socket.close(ignored);
  connections_.erase(c->id);
  if (lingering_ && connections_.empty() && !finished_) asio::post(io_, [this] { Finish(); });
}

void Server::Impl::ReadEnded(const ConnectionPtr& c, const char* why) {
  c->reading = false;
  Note('!', "#" + std::to_string(c->id) + " " + why);
  engine_.Disconnect(c->id);
  // A buyer gone mid-session has no use for what is queued. Anyone else (a denied client that
  // closed its side, a buyer after the close) may still read it: the queue is written out first,
  // and the connection closed when it is (see Write).
  if ((engine_.Admitted(c->id) && engine_.stage() != Engine::Stage::kClosed) ||
      (!c->write_in_flight && c->pending.empty())) {
    Remove(c);
  }
}

// Sends what the engine produced; a broadcast goes to every admitted connection whose output is
// open, in the order of the engine's messages.
void Server::Impl::Deliver() {
  // Until nothing is left: a drop while sending makes the engine announce a new buyers list.
  for (std::vector<market::Outgoing> batch; !(batch = engine_.TakeOutgoing()).empty();) {
    DeliverBatch(batch);
  }
}

void Server::Impl::DeliverBatch(const std::vector<market::Outgoing>& batch) {
  for (const market::Outgoing& out : batch) {
    if (out.close) {
      auto it = connections_.find(out.to);
      if (it == connections_.end()) continue;
      const ConnectionPtr c = it->second;
      c->output_closed = true;
      if (!c->write_in_flight) Write(c);
      continue;
    }
    if (out.to == market::kEveryone) {
      Note('>', "* " + out.line);
      // Copied: a drop for overflow removes from the map while it is walked.
      std::vector<ConnectionPtr> targets;
      for (const auto& [id, c] : connections_) {
        if (engine_.Admitted(id)) targets.push_back(c);
      }
      for (const ConnectionPtr& c : targets) Send(c, out.line);
    } else if (auto it = connections_.find(out.to); it != connections_.end()) {
      Note('>', "#" + std::to_string(out.to) + " " + out.line);
      Send(it->second, out.line);
    }
  }
}

// After anything happened: deliver, start the session when it is time, check how it stands.
void Server::Impl::AfterEvent() {
  if (finished_) return;
  Deliver();
  MaybeStart();
  if (engine_.stage() == Engine::Stage::kRunning && engine_.ParticipantsPresent() == 0) {
    Note('!', "every buyer left");
    engine_.Abandon("every buyer left");
    Finish();
    return;
  }
  if (engine_.stage() == Engine::Stage::kClosed && !lingering_) SessionClosed();
  if (lingering_ && connections_.empty()) Finish();
}

void Server::Impl::MaybeStart() {
  if (engine_.stage() != Engine::Stage::kLobby) return;
  const int present = engine_.ParticipantsPresent();
  const bool full = present >= market::BuyerCapacity(scenario_);
  if (!full && !(window_passed_ && present >= scenario_.min_buyers)) return;
  window_timer_.cancel();
  started_ = true;
  session_start_ = Now();
  Note('!', "session starts with " + std::to_string(present) + " buyers");
  engine_.Start(session_start_);
  Deliver();
  ScheduleTick();
}

void Server::Impl::ScheduleTick() {
  const std::optional<Nanos> deadline = engine_.NextDeadline();
  if (!deadline) return;
  tick_timer_.expires_at(start_ + *deadline);
  tick_timer_.async_wait([this](const asio::error_code& ec) {
    if (ec || finished_) return;
    OnTick();
  });
}

void Server::Impl::OnTick() {
  // Bids that reached the server in time count at the price in force, from whichever connection.
  std::vector<ConnectionPtr> all;
  for (const auto& [id, c] : connections_) all.push_back(c);
  for (const ConnectionPtr& c : all) Drain(c);
  if (finished_) return;
  engine_.Advance(Now());
  AfterEvent();
  if (!finished_) ScheduleTick();
}

void Server::Impl::SessionClosed() {
  lingering_ = true;
  stats_.session_time = Now() - session_start_;
  Note('!', "market closed");
  asio::error_code ignored;
  acceptor_.close(ignored);
  // Connections that never logged in have nothing more coming.
  std::vector<ConnectionPtr> idle;
  for (const auto& [id, c] : connections_) {
    if (!engine_.Admitted(id)) idle.push_back(c);
  }
  for (const ConnectionPtr& c : idle) Remove(c);
  linger_timer_.expires_after(options_.linger);
  linger_timer_.async_wait([this](const asio::error_code& ec) {
    if (ec || finished_) return;
    Note('!', "linger time over");
    Finish();
  });
}

void Server::Impl::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!lingering_ && started_) {
    stats_.session_time = Now() - session_start_;
  }
  asio::error_code ignored;
  acceptor_.close(ignored);
  window_timer_.cancel();
  tick_timer_.cancel();
  linger_timer_.cancel();
  signals_.cancel();
  std::vector<ConnectionPtr> all;
  for (const auto& [id, c] : connections_) all.push_back(c);
  for (const ConnectionPtr& c : all) Remove(c);
}

Server::Server(const market::Scenario& scenario, uint64_t seed, const ServerOptions& options,
               gateway::Transcript* transcript)
    : impl_(std::make_unique<Impl>(scenario, seed, options, transcript)) {}
Server::~Server() = default;
bool Server::Listen(std::string* error) { return impl_->Listen(error); }
uint16_t Server::port() const { return impl_->port(); }
void Server::Run() { impl_->Run(); }
const market::Results& Server::results() const { return impl_->results(); }
const NetworkStats& Server::stats() const { return impl_->stats(); }

}  // namespace marketd
