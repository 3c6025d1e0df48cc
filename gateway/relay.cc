#include "gateway/relay.h"

#include <array>
#include <string>
#include <vector>

#include <unistd.h>

#include <boost/asio.hpp>

#include "engine/commands.h"
#include "session/exit_codes.h"
#include "wire/line_reader.h"
#include "wire/write_all.h"

namespace gateway {
namespace {

using boost::asio::ip::tcp;
using session::kExitOk;
using session::kExitSessionFailed;
using wire::Address;
using wire::Line;
using wire::LineReader;
using wire::WriteAll;

// Bytes moved per read in each direction. Lines are relayed as bytes, so this bounds only the
// memory of the relay, not the length of a line; it covers a burst of market messages in one read.
constexpr size_t kRelayChunk = 16384;

// Lines are relayed as bytes; these readers only watch for the few lines that decide the exit
// status, so a short bound is enough (longer lines are not among them).
constexpr size_t kWatchedLine = 256;

class Relay {
 public:
  Relay(const Address& address, Descriptors fds)
      : address_(address),
        err_(fds.err),
        resolver_(io_),
        socket_(io_),
        agent_in_(io_),
        agent_out_(io_),
        timer_(io_),
        in_fd_(fds.in),
        out_fd_(fds.out) {}

  int Run() {
    boost::system::error_code ec;
    agent_in_.assign(in_fd_, ec);
    if (!ec) agent_out_.assign(out_fd_, ec);
    if (ec) {
      Complain("the agent's input and output must be pipes or sockets: " + ec.message());
      return kExitSessionFailed;
    }
    timer_.expires_after(kConnectTimeout);
    timer_.async_wait([this](const boost::system::error_code& error) {
      if (error || connected_) return;
      failure_ = "timed out after " + std::to_string(kConnectTimeout.count()) + " s";
      resolver_.cancel();
      boost::system::error_code ignored;
      socket_.close(ignored);
    });
    resolver_.async_resolve(address_.host, std::to_string(address_.port),
                            boost::asio::ip::resolver_base::numeric_service,
                            [this](const boost::system::error_code& error,
                                   const tcp::resolver::results_type& endpoints) {
                              if (error) return ConnectFailed(error);
                              boost::asio::async_connect(
                                  socket_, endpoints,
                                  [this](const boost::system::error_code& e, const tcp::endpoint&) {
                                    if (e) return ConnectFailed(e);
                                    connected_ = true;
                                    timer_.cancel();
                                    boost::system::error_code ignored;
                                    socket_.set_option(tcp::no_delay(true), ignored);
                                    PumpAgentToMarket();
                                    PumpMarketToAgent();
                                  });
                            });
    io_.run();
    if (!connected_) return kExitSessionFailed;
    // The market's verdict first: a denied admission fails whatever the agent did after it.
    if (denied_) return kExitSessionFailed;
    return market_closed_ || agent_exited_ ? kExitOk : kExitSessionFailed;
  }

 private:
  void Complain(const std::string& text) { WriteAll(err_, "RemoteControl: " + text + "\n"); }

  void ConnectFailed(const boost::system::error_code& error) {
    if (connected_ || reported_) return;
    reported_ = true;
    timer_.cancel();
    Complain("cannot connect to the market at " + wire::FormatAddress(address_) + ": " +
             (failure_.empty() ? error.message() : failure_));
    CloseAgent();
  }

  void CloseAgent() {
    boost::system::error_code ignored;
    agent_in_.close(ignored);
    agent_out_.close(ignored);
  }

  void PumpAgentToMarket() {
    agent_in_.async_read_some(
        boost::asio::buffer(up_), [this](const boost::system::error_code& ec, size_t n) {
          if (ec) {
            // The agent's input ended: the server sees it leave.
            boost::system::error_code ignored;
            socket_.shutdown(tcp::socket::shutdown_send, ignored);
            agent_in_.close(ignored);
            up_done_ = true;
            MaybeEnd();
            return;
          }
          Watch(up_reader_, n, up_.data(), [this](const std::string& line) {
            if (market::ParseCommand(line).kind == market::Command::Kind::kExit)
              agent_exited_ = true;
          });
          boost::asio::async_write(socket_, boost::asio::buffer(up_.data(), n),
                                   [this](const boost::system::error_code& error, size_t) {
                                     if (error) {
                                       // The server is gone; what the agent sends has nowhere to
                                       // go.
                                       boost::system::error_code ignored;
                                       agent_in_.close(ignored);
                                       up_done_ = true;
                                       MaybeEnd();
                                       return;
                                     }
                                     PumpAgentToMarket();
                                   });
        });
  }

  void PumpMarketToAgent() {
    socket_.async_read_some(
        boost::asio::buffer(down_), [this](const boost::system::error_code& ec, size_t n) {
          if (ec) {
            // The server closed: so does the agent's output, and the agent will hang up in turn.
            boost::system::error_code ignored;
            agent_out_.close(ignored);
            down_done_ = true;
            if (!up_done_) {
              timer_.expires_after(kAgentGrace);
              timer_.async_wait([this](const boost::system::error_code& error) {
                if (!error) Stop();
              });
            }
            MaybeEnd();
            return;
          }
          Watch(down_reader_, n, down_.data(), [this](const std::string& line) {
            if (line == "closed_market") market_closed_ = true;
            if (line.rfind("deny ", 0) == 0) {
              denied_ = true;
              Complain("admission refused: " + line.substr(5));
            }
          });
          boost::asio::async_write(agent_out_, boost::asio::buffer(down_.data(), n),
                                   [this](const boost::system::error_code& error, size_t) {
                                     if (error) {
                                       // The agent stopped reading: nothing more to relay to it.
                                       Stop();
                                       return;
                                     }
                                     PumpMarketToAgent();
                                   });
        });
  }

  template <typename OnLine>
  void Watch(LineReader& reader, size_t n, const char* data, OnLine on_line) {
    std::vector<Line> lines;
    reader.Feed(std::string_view(data, n), &lines);
    for (const Line& line : lines) {
      if (!line.overlong) on_line(line.text);
    }
  }

  void MaybeEnd() {
    if (up_done_ && down_done_) Stop();
  }

  void Stop() {
    boost::system::error_code ignored;
    timer_.cancel();
    socket_.close(ignored);
    CloseAgent();
  }

  Address address_;
  int err_;
  boost::asio::io_context io_;
  tcp::resolver resolver_;
  tcp::socket socket_;
  boost::asio::posix::stream_descriptor agent_in_;
  boost::asio::posix::stream_descriptor agent_out_;
  boost::asio::steady_timer timer_;
  int in_fd_;
  int out_fd_;
  std::array<char, kRelayChunk> up_{};
  std::array<char, kRelayChunk> down_{};
  LineReader up_reader_{kWatchedLine};
  LineReader down_reader_{kWatchedLine};
  bool connected_ = false;
  bool reported_ = false;
  std::string failure_;
  bool up_done_ = false;
  bool down_done_ = false;
  bool market_closed_ = false;
  bool agent_exited_ = false;
  bool denied_ = false;  // the market answered "deny": the session failed
};

}  // namespace

int RunRelay(const Address& address, Descriptors fds) {
  Relay relay(address, fds);
  return relay.Run();
}

}  // namespace gateway
