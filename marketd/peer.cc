#include "marketd/peer.h"

#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <utility>  // before Boost.Asio 1.74, whose awaitable.hpp uses std::exchange

#include <boost/asio.hpp>

namespace marketd {
namespace {

using boost::asio::ip::tcp;

constexpr size_t kMaxLine = 1 << 16;

class PeerConnection : public std::enable_shared_from_this<PeerConnection> {
 public:
  PeerConnection(boost::asio::io_context& io, const PeerOptions& options, std::string login,
                 int64_t threshold, PeerReport* report)
      : socket_(io), options_(options), threshold_(threshold), report_(report) {
    report_->login = std::move(login);
    if (!options_.log_dir.empty()) log_.open(options_.log_dir + "/" + report_->login + ".log");
  }

  void Start(const tcp::endpoint& endpoint) {
    auto self = shared_from_this();
    socket_.async_connect(endpoint, [this, self](const boost::system::error_code& ec) {
      if (ec) {
        report_->error = "cannot connect: " + ec.message();
        return;
      }
      boost::system::error_code ignored;
      socket_.set_option(tcp::no_delay(true), ignored);
      Send("admission " + report_->login + " " + options_.password);
      Read();
    });
  }

  void Close() {
    boost::system::error_code ignored;
    socket_.close(ignored);
  }

 private:
  void Read() {
    auto self = shared_from_this();
    boost::asio::async_read_until(socket_, boost::asio::dynamic_buffer(input_, kMaxLine), '\n',
                                  [this, self](const boost::system::error_code& ec, size_t n) {
                                    if (ec) {
                                      if (ec != boost::asio::error::eof &&
                                          ec != boost::asio::error::operation_aborted &&
                                          report_->error.empty() && !report_->left) {
                                        report_->error = "read failed: " + ec.message();
                                      }
                                      Close();
                                      return;
                                    }
                                    const std::string line = input_.substr(0, n - 1);
                                    input_.erase(0, n);
                                    if (OnLine(line)) Read();
                                  });
  }

  // False when the connection is to end here.
  bool OnLine(const std::string& line) {
    ++report_->lines_received;
    if (log_.is_open()) log_ << line << '\n';
    const std::string tag = line.substr(0, line.find(' '));
    if (tag == "accept") report_->accepted = true;
    if (tag == "deny") report_->denied = line.size() > 5 ? line.substr(5) : "";
    if (tag == "closed_market") report_->saw_close = true;
    if ((tag == "offer" || tag == "collision") && threshold_ > 0) {
      const size_t space = line.rfind(' ');
      const int64_t price = std::strtoll(line.c_str() + space + 1, nullptr, 10);
      if (price <= threshold_) {
        ++report_->bids_sent;
        Send("bid");
      }
    }
    if (tag == "offer" && options_.leave_after_offers > 0 &&
        ++offers_ >= options_.leave_after_offers) {
      // Hangs up within the tick: right after its bid on this offer, if it made one.
      report_->left = true;
      if (log_.is_open()) log_.flush();
      leaving_ = true;
      if (output_.empty()) Close();
      return false;
    }
    return true;
  }

  void Send(std::string line) {
    output_.push_back(std::move(line) + "\n");
    if (output_.size() == 1) Write();
  }

  void Write() {
    auto self = shared_from_this();
    boost::asio::async_write(socket_, boost::asio::buffer(output_.front()),
                             [this, self](const boost::system::error_code& ec, size_t) {
                               if (ec) return;  // the read side reports the end
                               output_.pop_front();
                               if (!output_.empty()) {
                                 Write();
                               } else if (leaving_) {
                                 Close();
                               }
                             });
  }

  tcp::socket socket_;
  const PeerOptions& options_;
  int64_t threshold_;
  PeerReport* report_;
  std::ofstream log_;
  std::string input_;
  std::deque<std::string> output_;
  int offers_ = 0;
  bool leaving_ = false;
};

}  // namespace

std::vector<PeerReport> RunPeers(const PeerOptions& options) {
  boost::asio::io_context io;
  std::vector<PeerReport> reports(static_cast<size_t>(options.count));
  boost::system::error_code ec;
  const boost::asio::ip::address address = boost::asio::ip::make_address(options.host, ec);
  if (ec) {
    for (PeerReport& r : reports) r.error = "bad host " + options.host;
    return reports;
  }
  const tcp::endpoint endpoint(address, options.port);
  std::vector<std::shared_ptr<PeerConnection>> connections;
  for (int i = 0; i < options.count; ++i) {
    const std::string login =
        options.count == 1 ? options.login : options.login + std::to_string(i + 1);
    const int64_t threshold =
        options.bid_at_or_below > 0 ? options.bid_at_or_below - (i % 10) * options.spread : 0;
    auto c = std::make_shared<PeerConnection>(io, options, login, threshold,
                                              &reports[static_cast<size_t>(i)]);
    c->Start(endpoint);
    connections.push_back(c);
  }
  // Bounded: a server that never closes does not hold the peer for ever.
  boost::asio::steady_timer timeout(io,
                                    std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::duration<double>(options.timeout_seconds)));
  timeout.async_wait([&](const boost::system::error_code& error) {
    if (error) return;
    for (size_t i = 0; i < connections.size(); ++i) {
      if (reports[i].error.empty() && !reports[i].saw_close) reports[i].error = "timed out";
      connections[i]->Close();
    }
  });
  // Runs until no connection has an operation pending; then the timer goes too.
  for (;;) {
    io.run_one();
    bool open = false;
    for (const auto& c : connections) open |= c.use_count() > 1;
    if (!open) break;
  }
  timeout.cancel();
  io.run();
  return reports;
}

std::string ReportLine(const PeerReport& r) {
  std::string end = !r.error.empty()    ? "error " + r.error
                    : r.left            ? "left"
                    : !r.denied.empty() ? "denied " + r.denied
                    : r.saw_close       ? "closed_market"
                                        : "ended";
  return r.login + " bids=" + std::to_string(r.bids_sent) +
         " lines=" + std::to_string(r.lines_received) + " end=" + end;
}

}  // namespace marketd
