#include "gateway/relay.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <boost/asio.hpp>

#include "engine/commands.h"
#include "gateway/agent_watch.h"
#include "session/exit_codes.h"
#include "session/tick_stepper.h"
#include "wire/idle_line.h"
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
  Relay(const Address& address, Descriptors fds, bool stepped)
      : stepped_(stepped),
        address_(address),
        err_(fds.err),
        resolver_(io_),
        socket_(io_),
        agent_in_(io_),
        agent_out_(io_),
        timer_(io_),
        idle_timer_(io_),
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
    if (stepped_) {
      // Without a watch the relay never says its agent is idle: the server ends each tick at its
      // deadline and counts it late for this agent.
      std::string why;
      const std::optional<pid_t> agent = AgentWatch::FindAgent(in_fd_, &why);
      if (agent) watch_ = AgentWatch::Open(*agent, out_fd_, in_fd_, &why);
      if (!watch_) {
        Complain("the stepped clock cannot watch the agent (" + why +
                 "): its ticks end at their deadline");
      }
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

  // The agent's bytes go to the server through up_queue_, one write at a time, and the next read
  // waits until the queue is written: the agent is held back when the server reads slowly. On the
  // stepped clock the agent's lines are escaped (wire::AgentEscape) and the relay's own "~idle N"
  // lines join the queue between them.
  void PumpAgentToMarket() {
    agent_reading_ = true;
    agent_in_.async_read_some(
        boost::asio::buffer(up_), [this](const boost::system::error_code& ec, size_t n) {
          agent_reading_ = false;
          if (ec) {
            // The agent's input ended: once what it sent is written, the server sees it leave.
            boost::system::error_code ignored;
            agent_in_.close(ignored);
            agent_ended_ = true;
            if (!up_writing_) EndUp();
            return;
          }
          Watch(up_reader_, n, up_.data(), [this](const std::string& line) {
            if (market::ParseCommand(line).kind == market::Command::Kind::kExit)
              agent_exited_ = true;
          });
          if (stepped_) {
            escape_.Escape(std::string_view(up_.data(), n), &up_queue_);
          } else {
            up_queue_.append(up_.data(), n);
          }
          Activity();
          WriteUp();
        });
  }

  void WriteUp() {
    if (up_writing_ || up_queue_.empty() || up_done_) return;
    up_writing_ = true;
    up_sending_.swap(up_queue_);
    boost::asio::async_write(socket_, boost::asio::buffer(up_sending_),
                             [this](const boost::system::error_code& error, size_t) {
                               up_writing_ = false;
                               up_sending_.clear();
                               if (error) {
                                 // The server is gone; what the agent sends has nowhere to go.
                                 boost::system::error_code ignored;
                                 agent_in_.close(ignored);
                                 up_done_ = true;
                                 MaybeEnd();
                                 return;
                               }
                               if (!up_queue_.empty()) return WriteUp();
                               if (agent_ended_) return EndUp();
                               if (!agent_reading_) PumpAgentToMarket();
                               if (report_due_) {
                                 checks_ = 0;
                                 ScheduleCheck();
                               }
                             });
  }

  void EndUp() {
    if (up_done_) return;
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    up_done_ = true;
    MaybeEnd();
  }

  // The agent did something, or was handed something: it is to be watched until it is idle, and
  // then the server told so.
  void Activity() {
    if (!watch_) return;
    report_due_ = true;
    checks_ = 0;
    ScheduleCheck();
  }

  // Checks come at once at first, then further apart (as the embedded gateway's, TickStepper),
  // so that a busy agent costs the relay little CPU.
  void ScheduleCheck() {
    if (checking_ || stopped_) return;
    checking_ = true;
    if (checks_ < session::TickStepper::kChecksAtOnce) {
      boost::asio::post(io_, [this] {
        checking_ = false;
        Check();
      });
      return;
    }
    auto wait = session::TickStepper::kFirstWait;
    for (int i = session::TickStepper::kChecksAtOnce;
         i < checks_ && wait < session::TickStepper::kMaxWait; ++i) {
      wait *= 2;
    }
    idle_timer_.expires_after(std::min(wait, session::TickStepper::kMaxWait));
    idle_timer_.async_wait([this](const boost::system::error_code& error) {
      checking_ = false;
      if (!error) Check();
    });
  }

  // The agent is idle when all the relay handed it is read, all it sent is on its way to the
  // server (whole lines only) and the watch finds it asleep: the server hears "~idle N", N the
  // bytes the agent has been handed so far.
  void Check() {
    if (!report_due_ || stopped_ || up_done_ || down_done_ || agent_ended_) return;
    ++checks_;
    const bool quiet =
        !up_writing_ && up_queue_.empty() && !down_writing_ && escape_.at_line_start();
    if (quiet && watch_->Idle()) {
      report_due_ = false;
      up_queue_ = wire::IdleLine(to_agent_) + "\n";
      WriteUp();
      return;
    }
    ScheduleCheck();
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
          down_writing_ = true;
          boost::asio::async_write(agent_out_, boost::asio::buffer(down_.data(), n),
                                   [this, n](const boost::system::error_code& error, size_t) {
                                     down_writing_ = false;
                                     if (error) {
                                       // The agent stopped reading: nothing more to relay to it.
                                       Stop();
                                       return;
                                     }
                                     to_agent_ += n;
                                     Activity();
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
    stopped_ = true;
    timer_.cancel();
    idle_timer_.cancel();
    socket_.close(ignored);
    CloseAgent();
  }

  bool stepped_;
  Address address_;
  int err_;
  boost::asio::io_context io_;
  tcp::resolver resolver_;
  tcp::socket socket_;
  boost::asio::posix::stream_descriptor agent_in_;
  boost::asio::posix::stream_descriptor agent_out_;
  boost::asio::steady_timer timer_;
  boost::asio::steady_timer idle_timer_;
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
  bool stopped_ = false;
  // The agent's way to the server.
  std::string up_queue_;    // to write next
  std::string up_sending_;  // being written
  bool up_writing_ = false;
  bool agent_reading_ = false;
  bool agent_ended_ = false;  // its output ended: the socket's sending side shuts when written
  // The stepped clock (with watch_ set): whether the agent is idle.
  std::optional<AgentWatch> watch_;
  wire::AgentEscape escape_;
  bool down_writing_ = false;
  uint64_t to_agent_ = 0;    // bytes handed to the agent
  bool report_due_ = false;  // the agent did something since the last "~idle"
  bool checking_ = false;    // a check is posted or its timer armed
  int checks_ = 0;           // since the agent last did something
};

}  // namespace

int RunRelay(const Address& address, Descriptors fds, bool stepped) {
  Relay relay(address, fds, stepped);
  return relay.Run();
}

}  // namespace gateway
