// Plays arbitrary bytes, cut into arbitrary chunks, into one live-monitor HTTP connection
// (marketd's MonitorConnection with the monitor's own routes and default limits), as the server's
// socket code would. After every chunk the request holds at most kHeldLimit bytes (nothing once
// it is decided); at the end the connection got one well-formed answer, or a stream of its own,
// or is closed. An exception caught inside the connection is a finding too.
//
// Input: the first byte chooses the chunking and the market's state, the rest are the bytes:
//   byte & 0x0f   chunks of 1 to 2^(byte & 0x0f) bytes (lengths from a generator seeded by the
//                 byte), 0x0f: one chunk
//   byte & 0x80   the session is over (no new stream)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>

#include "marketd/monitor_connection.h"
#include "marketd/monitor_feed.h"
#include "marketd/monitor_routes.h"
#include "marketd/monitor_viewers.h"

namespace {

namespace http = boost::beast::http;
using marketd::MonitorConnection;

void Fail(const char* what) {
  std::fprintf(stderr, "monitor_fuzzer: %s\n", what);
  std::abort();
}

// A feed with a market under way, so that the snapshot has something in it.
const marketd::MonitorFeed& Feed() {
  static const marketd::MonitorFeed* feed = [] {
    auto* f = new marketd::MonitorFeed;
    for (const char* line : {"open_auction 1", "buyers Ann Bob", "goods g1 wine Ana 2600 2300",
                             "open_round 1", "good g1 wine Ana 2600 2300", "offer g1 2600"}) {
      f->OnBroadcast(line);
    }
    f->OnBid("Ann");
    return f;
  }();
  return *feed;
}

// A complete HTTP/1.1 answer that closes its connection, with a length its body matches.
void CheckAnswer(const std::string& answer) {
  http::response_parser<http::string_body> parser;
  parser.eager(true);
  boost::beast::error_code ec;
  const size_t used = parser.put(boost::asio::buffer(answer.data(), answer.size()), ec);
  if (ec || !parser.is_done() || used != answer.size()) Fail("answer not well-formed");
  const auto& response = parser.get();
  if (response.keep_alive() || !parser.content_length()) Fail("answer keeps its connection");
  switch (response.result_int()) {
    case 200:
    case 400:
    case 404:
    case 405:
    case 413:
    case 431:
    case 503:
      break;
    default:
      Fail("answer of an unexpected status");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  marketd::MonitorViewers viewers;
  marketd::MonitorRoutes routes(Feed(), viewers);
  if (mode & 0x80) routes.Finish();
  MonitorConnection connection([&](std::string_view path) { return routes.Get(path); });

  const unsigned bits = mode & 0x0f;
  uint32_t state = mode * 2654435761u + 1;
  bool answered = false;
  while (!bytes.empty()) {
    size_t n = bytes.size();
    if (bits != 0x0f) {
      state = state * 1664525u + 1013904223u;
      n = 1 + (state >> 8) % (size_t{1} << bits);
      if (n > bytes.size()) n = bytes.size();
    }
    connection.Received(bytes.substr(0, n));
    bytes.remove_prefix(n);
    if (connection.faulted()) Fail("an exception was caught in the connection");
    const MonitorConnection::State now = connection.state();
    if (connection.held() > MonitorConnection::kHeldLimit) Fail("request holds too much");
    if (now != MonitorConnection::State::kReading && connection.held() != 0) {
      Fail("a decided request still holds bytes");
    }
    if (now == MonitorConnection::State::kAnswered && !answered) {
      answered = true;
      CheckAnswer(connection.answer());
    }
  }
  connection.Ended();  // the deadline
  switch (connection.state()) {
    case MonitorConnection::State::kReading:
    case MonitorConnection::State::kAnswered:
      Fail("a connection left open after its deadline");
      break;
    case MonitorConnection::State::kStreaming: {
      const std::optional<marketd::ViewerId> id = connection.viewer();
      if (!id || !viewers.Has(*id) || (mode & 0x80)) Fail("a stream without its viewer");
      const std::string head = viewers.Take(*id);
      if (head.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n", 0) != 0) {
        Fail("a stream without its head");
      }
      break;
    }
    case MonitorConnection::State::kClosed:
      if (!connection.answer().empty()) CheckAnswer(connection.answer());
      break;
  }
  return 0;
}
