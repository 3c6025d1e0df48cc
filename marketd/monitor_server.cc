#include "marketd/monitor_server.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string_view>
#include <utility>  // before Boost.Asio 1.74, whose awaitable.hpp uses std::exchange
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include "marketd/monitor_connection.h"
#include "marketd/monitor_feed.h"
#include "marketd/monitor_routes.h"
#include "marketd/monitor_viewers.h"

namespace marketd {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
using asio::ip::tcp;
using boost::system::error_code;

// Bytes read from a connection at once.
constexpr size_t kReadChunk = 4096;
// After accept() fails (out of descriptors), accepting waits this long.
constexpr std::chrono::milliseconds kAcceptBackOff{100};

std::string SseMessage(const std::string& json) { return "data: " + json + "\n\n"; }

}  // namespace

class MonitorServer::Impl {
 public:
  Impl(asio::io_context& io, const MonitorOptions& options)
      : host_(options.host),
        port_(options.port),
        send_buffer_(options.send_buffer),
        max_connections_(std::min(options.max_connections, kMaxConnections)),
        acceptor_(io),
        accept_timer_(io),
        flush_timer_(io),
        viewers_(options.queue_limit),
        routes_(feed_, viewers_) {}

  bool Listen(std::string* error);
  uint16_t port() const { return port_; }
  void Accept();
  void Publish(const std::string& json);
  void Finish();
  // A fault outside any one connection (publishing): every viewer is closed, since each would
  // miss an event.
  void Fault();
  size_t viewers() const { return viewers_.size(); }
  int64_t served() const { return routes_.served(); }
  int64_t dropped() const { return dropped_; }
  int64_t faults() const { return faults_; }

  MonitorFeed feed_;

 private:
  struct Connection {
    Connection(tcp::socket socket, MonitorConnection::Router router)
        : stream(std::move(socket)), http(std::move(router)) {}
    beast::tcp_stream stream;
    MonitorConnection http;
    std::array<char, kReadChunk> input;
    std::optional<ViewerId> viewer;
    std::string writing;  // an answer or a viewer's bytes being written
    bool closed = false;
  };
  using ConnectionPtr = std::shared_ptr<Connection>;

  // Runs a handler's work for `c`: an exception closes that connection and is counted, never
  // leaving the handler for the event loop.
  template <typename Work>
  void Guarded(const ConnectionPtr& c, Work&& work);
  void Read(const ConnectionPtr& c);
  void OnInput(const ConnectionPtr& c, error_code ec, size_t n);
  void Answer(const ConnectionPtr& c);
  void Drain(const ConnectionPtr& c);
  void Pump(const ConnectionPtr& c);
  void Close(const ConnectionPtr& c);

  std::string host_;
  uint16_t port_;
  int send_buffer_;
  size_t max_connections_;
  tcp::acceptor acceptor_;
  asio::steady_timer accept_timer_;
  asio::steady_timer flush_timer_;
  MonitorViewers viewers_;
  MonitorRoutes routes_;
  std::map<Connection*, ConnectionPtr> open_;
  std::map<ViewerId, ConnectionPtr> streams_;
  int64_t dropped_ = 0;
  int64_t faults_ = 0;
  bool finishing_ = false;
  bool pump_posted_ = false;  // the viewers' writes are due after the current handler
};

bool MonitorServer::Impl::Listen(std::string* error) {
  error_code ec;
  const asio::ip::address address = asio::ip::make_address(host_, ec);
  if (ec) {
    *error = "cannot serve the monitor on " + host_ + ": not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, port_);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error =
        "cannot serve the monitor on " + host_ + ":" + std::to_string(port_) + ": " + ec.message();
    return false;
  }
  port_ = acceptor_.local_endpoint().port();
  return true;
}

void MonitorServer::Impl::Accept() {
  if (finishing_ || !acceptor_.is_open()) return;
  acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || finishing_ || !acceptor_.is_open()) return;
    if (ec) {
      // Out of descriptors or memory: the others are served meanwhile, and accepting resumes
      // after a pause rather than failing again at once.
      accept_timer_.expires_after(kAcceptBackOff);
      accept_timer_.async_wait([this](error_code error) {
        if (!error) Accept();
      });
      return;
    }
    if (open_.size() >= max_connections_) {
      error_code ignored;
      socket.close(ignored);
    } else {
      if (send_buffer_ > 0) {
        error_code ignored;
        socket.set_option(asio::socket_base::send_buffer_size(send_buffer_), ignored);
      }
      try {
        auto c = std::make_shared<Connection>(
            std::move(socket), [this](std::string_view path) { return routes_.Get(path); });
        open_[c.get()] = c;
        // The whole request within the deadline, however it is sent.
        c->stream.expires_after(kRequestDeadline);
        Guarded(c, [&] { Read(c); });
      } catch (...) {
        ++faults_;  // the socket is closed with its connection
      }
    }
    Accept();
  });
}

template <typename Work>
void MonitorServer::Impl::Guarded(const ConnectionPtr& c, Work&& work) {
  try {
    work();
  } catch (...) {
    ++faults_;
    Close(c);
  }
}

void MonitorServer::Impl::Read(const ConnectionPtr& c) {
  c->stream.async_read_some(asio::buffer(c->input), [this, c](error_code ec, size_t n) {
    Guarded(c, [&] { OnInput(c, ec, n); });
  });
}

void MonitorServer::Impl::OnInput(const ConnectionPtr& c, error_code ec, size_t n) {
  if (c->closed) return;
  if (ec) {
    Close(c);  // hung up, reset, or the deadline passed
    return;
  }
  c->http.Received(std::string_view(c->input.data(), n));
  switch (c->http.state()) {
    case MonitorConnection::State::kReading:
      Read(c);
      return;
    case MonitorConnection::State::kAnswered:
      Answer(c);
      return;
    case MonitorConnection::State::kStreaming:
      c->viewer = c->http.viewer();
      streams_[*c->viewer] = c;
      c->stream.expires_never();  // a quiet market is no fault of the viewer's
      Pump(c);
      return;
    case MonitorConnection::State::kClosed:
      if (c->http.faulted()) ++faults_;
      Close(c);
      return;
  }
}

void MonitorServer::Impl::Answer(const ConnectionPtr& c) {
  c->writing = c->http.answer();
  c->stream.expires_after(kRequestDeadline);
  asio::async_write(c->stream, asio::buffer(c->writing), [this, c](error_code ec, size_t) {
    Guarded(c, [&] {
      if (c->closed) return;
      c->writing.clear();
      c->writing.shrink_to_fit();
      if (ec) {
        Close(c);
        return;
      }
      error_code ignored;
      c->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
      Drain(c);
    });
  });
}

// After an answer: what the client still sends is read and dropped until it hangs up (at most
// MonitorConnection::kDrainLimit bytes, within kRequestDeadline), so that closing with unread
// bytes does not reset the connection before the client has read the answer.
void MonitorServer::Impl::Drain(const ConnectionPtr& c) {
  if (c->closed) return;
  if (c->http.state() != MonitorConnection::State::kAnswered) {
    Close(c);
    return;
  }
  c->stream.async_read_some(asio::buffer(c->input), [this, c](error_code ec, size_t n) {
    Guarded(c, [&] {
      if (c->closed) return;
      if (ec) {
        Close(c);
        return;
      }
      c->http.Received(std::string_view(c->input.data(), n));
      Drain(c);
    });
  });
}

void MonitorServer::Impl::Pump(const ConnectionPtr& c) {
  if (c->closed || !c->viewer || !c->writing.empty()) return;
  c->writing = viewers_.Take(*c->viewer);
  if (c->writing.empty()) {
    if (finishing_ && viewers_.Unsent(*c->viewer) == 0) {
      error_code ignored;
      c->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
      Close(c);
    }
    return;
  }
  asio::async_write(c->stream.socket(), asio::buffer(c->writing), [this, c](error_code ec, size_t) {
    Guarded(c, [&] {
      if (c->closed) return;
      c->writing.clear();
      viewers_.Written(*c->viewer);
      if (ec) {
        Close(c);
      } else {
        Pump(c);
      }
    });
  });
}

void MonitorServer::Impl::Publish(const std::string& json) {
  for (ViewerId id : viewers_.Publish(SseMessage(json))) {
    ++dropped_;
    auto it = streams_.find(id);
    if (it != streams_.end()) Close(ConnectionPtr(it->second));
  }
  // The viewers are written to after the handler that published has ended, so after the buyers'
  // own writes of the same event: a viewer never stands between the market and its buyers. The
  // events of one handler then leave in one write per viewer.
  if (pump_posted_) return;
  pump_posted_ = true;
  asio::post(acceptor_.get_executor(), [this] {
    pump_posted_ = false;
    std::vector<ConnectionPtr> all;
    for (const auto& [id, c] : streams_) all.push_back(c);
    for (const ConnectionPtr& c : all) Guarded(c, [&] { Pump(c); });
  });
}

// The session is over: what is queued goes out, then every connection closes, within
// kFlushDeadline.
void MonitorServer::Impl::Finish() {
  finishing_ = true;
  routes_.Finish();
  error_code ignored;
  acceptor_.close(ignored);
  accept_timer_.cancel();
  std::vector<ConnectionPtr> all;
  for (const auto& [raw, c] : open_) all.push_back(c);
  for (const ConnectionPtr& c : all) {
    if (!c->viewer) Close(c);
  }
  for (const ConnectionPtr& c : all) Guarded(c, [&] { Pump(c); });
  if (open_.empty()) return;
  flush_timer_.expires_after(kFlushDeadline);
  flush_timer_.async_wait([this](error_code ec) {
    if (ec) return;
    std::vector<ConnectionPtr> left;
    for (const auto& [raw, c] : open_) left.push_back(c);
    for (const ConnectionPtr& c : left) Close(c);
  });
}

void MonitorServer::Impl::Fault() {
  ++faults_;
  std::vector<ConnectionPtr> all;
  for (const auto& [id, c] : streams_) all.push_back(c);
  for (const ConnectionPtr& c : all) Close(c);
}

void MonitorServer::Impl::Close(const ConnectionPtr& c) {
  if (c->closed) return;
  c->closed = true;
  error_code ignored;
  c->stream.socket().close(ignored);
  if (c->viewer) {
    viewers_.Remove(*c->viewer);
    streams_.erase(*c->viewer);
  }
  open_.erase(c.get());
  if (finishing_ && open_.empty()) flush_timer_.cancel();
}

MonitorServer::MonitorServer(asio::io_context& io, const MonitorOptions& options)
    : impl_(std::make_shared<Impl>(io, options)) {}
MonitorServer::~MonitorServer() = default;
bool MonitorServer::Listen(std::string* error) { return impl_->Listen(error); }
uint16_t MonitorServer::port() const { return impl_->port(); }
void MonitorServer::Start() { impl_->Accept(); }
// What the market tells the monitor: a fault in it is the monitor's, never the market's.
void MonitorServer::Broadcast(const std::string& line) {
  try {
    impl_->Publish(impl_->feed_.OnBroadcast(line));
  } catch (...) {
    impl_->Fault();
  }
}
void MonitorServer::Bid(const std::string& login) {
  try {
    impl_->Publish(impl_->feed_.OnBid(login));
  } catch (...) {
    impl_->Fault();
  }
}
void MonitorServer::Finished() {
  try {
    impl_->Publish(impl_->feed_.OnFinished());
  } catch (...) {
    impl_->Fault();
  }
  try {
    impl_->Finish();
  } catch (...) {
    impl_->Fault();
  }
}
size_t MonitorServer::viewers() const { return impl_->viewers(); }
int64_t MonitorServer::served() const { return impl_->served(); }
int64_t MonitorServer::dropped() const { return impl_->dropped(); }
int64_t MonitorServer::faults() const { return impl_->faults(); }

}  // namespace marketd
