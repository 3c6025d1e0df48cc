#include "marketd/monitor_server.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>  // before Boost.Asio 1.74, whose awaitable.hpp uses std::exchange

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "marketd/monitor_feed.h"
#include "marketd/monitor_page.h"
#include "marketd/monitor_viewers.h"

namespace marketd {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;
using boost::system::error_code;

constexpr size_t kDrainLimit = 64 * 1024;
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
        viewers_(options.queue_limit) {}

  bool Listen(std::string* error);
  uint16_t port() const { return port_; }
  void Accept();
  void Publish(const std::string& json);
  void Finish();
  size_t viewers() const { return viewers_.size(); }
  int64_t served() const { return served_; }
  int64_t dropped() const { return dropped_; }

  MonitorFeed feed_;

 private:
  struct Connection {
    explicit Connection(tcp::socket socket) : stream(std::move(socket)) {}
    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;
    std::optional<ViewerId> viewer;
    std::string writing;  // a viewer's bytes being written
    bool closed = false;
  };
  using ConnectionPtr = std::shared_ptr<Connection>;

  void Read(const ConnectionPtr& c);
  void OnRequest(const ConnectionPtr& c, error_code ec);
  void Answer(const ConnectionPtr& c, http::status status, std::string type, std::string body);
  void Drain(const ConnectionPtr& c, size_t drained);
  void Stream(const ConnectionPtr& c);
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
  std::map<Connection*, ConnectionPtr> open_;
  std::map<ViewerId, ConnectionPtr> streams_;
  int64_t served_ = 0;
  int64_t dropped_ = 0;
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
      auto c = std::make_shared<Connection>(std::move(socket));
      open_[c.get()] = c;
      Read(c);
    }
    Accept();
  });
}

void MonitorServer::Impl::Read(const ConnectionPtr& c) {
  c->parser.emplace();
  c->parser->header_limit(static_cast<uint32_t>(kHeaderLimit));
  c->parser->body_limit(kBodyLimit);
  c->stream.expires_after(kRequestDeadline);
  http::async_read(c->stream, c->buffer, *c->parser,
                   [this, c](error_code ec, size_t) { OnRequest(c, ec); });
}

void MonitorServer::Impl::OnRequest(const ConnectionPtr& c, error_code ec) {
  if (c->closed) return;
  if (ec == http::error::header_limit) {
    Answer(c, http::status::request_header_fields_too_large, "text/plain", "headers too large\n");
    return;
  }
  if (ec == http::error::body_limit) {
    Answer(c, http::status::payload_too_large, "text/plain", "body too large\n");
    return;
  }
  if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == asio::error::eof ||
      ec == asio::error::connection_reset || ec == asio::error::operation_aborted) {
    Close(c);
    return;
  }
  if (ec) {
    Answer(c, http::status::bad_request, "text/plain", "bad request\n");
    return;
  }
  const http::request<http::string_body>& request = c->parser->get();
  if (request.method() != http::verb::get) {
    c->response.set(http::field::allow, "GET");
    Answer(c, http::status::method_not_allowed, "text/plain", "only GET\n");
    return;
  }
  std::string_view target(request.target().data(), request.target().size());
  target = target.substr(0, target.find('?'));
  if (target == "/") {
    Answer(c, http::status::ok, "text/html; charset=utf-8", MonitorPage());
  } else if (target == "/state") {
    Answer(c, http::status::ok, "application/json", feed_.State() + "\n");
  } else if (target == "/events") {
    Stream(c);
  } else {
    Answer(c, http::status::not_found, "text/plain", "not found\n");
  }
}

void MonitorServer::Impl::Answer(const ConnectionPtr& c, http::status status, std::string type,
                                 std::string body) {
  c->response.version(11);
  c->response.result(status);
  c->response.set(http::field::content_type, type);
  c->response.set(http::field::cache_control, "no-store");
  c->response.keep_alive(false);
  c->response.body() = std::move(body);
  c->response.prepare_payload();
  c->stream.expires_after(kRequestDeadline);
  http::async_write(c->stream, c->response, [this, c](error_code ec, size_t) {
    if (c->closed) return;
    if (ec) {
      Close(c);
      return;
    }
    error_code ignored;
    c->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    Drain(c, 0);
  });
}

// After an answer: what the client still sends is read and dropped until it hangs up (at most
// kDrainLimit bytes, within kRequestDeadline), so that closing with unread bytes does not reset
// the connection before the client has read the answer.
void MonitorServer::Impl::Drain(const ConnectionPtr& c, size_t drained) {
  if (c->closed) return;
  if (drained > kDrainLimit) {
    Close(c);
    return;
  }
  c->buffer.clear();
  c->stream.async_read_some(c->buffer.prepare(4096), [this, c, drained](error_code ec, size_t n) {
    if (ec) {
      Close(c);
    } else {
      Drain(c, drained + n);
    }
  });
}

// The event stream: the snapshot first, then every event as it happens. No content length: the
// stream ends when the connection does.
void MonitorServer::Impl::Stream(const ConnectionPtr& c) {
  if (finishing_) {
    Answer(c, http::status::service_unavailable, "text/plain", "the session is over\n");
    return;
  }
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
      "Connection: close\r\n\r\n";
  const std::optional<ViewerId> id =
      viewers_.Add(head + "event: state\ndata: " + feed_.State() + "\n\n");
  if (!id) {
    Answer(c, http::status::service_unavailable, "text/plain", "too many viewers\n");
    return;
  }
  c->viewer = id;
  streams_[*id] = c;
  ++served_;
  c->stream.expires_never();  // a quiet market is no fault of the viewer's
  Pump(c);
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
    if (c->closed) return;
    c->writing.clear();
    viewers_.Written(*c->viewer);
    if (ec) {
      Close(c);
    } else {
      Pump(c);
    }
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
    for (const ConnectionPtr& c : all) Pump(c);
  });
}

// The session is over: what is queued goes out, then every connection closes, within
// kFlushDeadline.
void MonitorServer::Impl::Finish() {
  finishing_ = true;
  error_code ignored;
  acceptor_.close(ignored);
  accept_timer_.cancel();
  std::vector<ConnectionPtr> all;
  for (const auto& [raw, c] : open_) all.push_back(c);
  for (const ConnectionPtr& c : all) {
    if (!c->viewer) Close(c);
  }
  for (const ConnectionPtr& c : all) Pump(c);
  if (open_.empty()) return;
  flush_timer_.expires_after(kFlushDeadline);
  flush_timer_.async_wait([this](error_code ec) {
    if (ec) return;
    std::vector<ConnectionPtr> left;
    for (const auto& [raw, c] : open_) left.push_back(c);
    for (const ConnectionPtr& c : left) Close(c);
  });
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
void MonitorServer::Broadcast(const std::string& line) {
  impl_->Publish(impl_->feed_.OnBroadcast(line));
}
void MonitorServer::Bid(const std::string& login) { impl_->Publish(impl_->feed_.OnBid(login)); }
void MonitorServer::Finished() {
  impl_->Publish(impl_->feed_.OnFinished());
  impl_->Finish();
}
size_t MonitorServer::viewers() const { return impl_->viewers(); }
int64_t MonitorServer::served() const { return impl_->served(); }
int64_t MonitorServer::dropped() const { return impl_->dropped(); }

}  // namespace marketd
