#include "marketd/monitor_connection.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "marketd/monitor_feed.h"
#include "marketd/monitor_routes.h"
#include "marketd/monitor_viewers.h"

namespace marketd {
namespace {

using State = MonitorConnection::State;

std::string Get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"; }

std::string Chunked(const std::string& rest) {
  return "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + rest;
}

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// One connection with the monitor's routes, fed `request` in chunks of `chunk` bytes; the most
// bytes it held after any chunk.
struct Fed {
  MonitorFeed feed;
  MonitorViewers viewers;
  MonitorRoutes routes{feed, viewers};
  MonitorConnection connection{[this](std::string_view path) { return routes.Get(path); }};
  size_t most_held = 0;

  void Feed(const std::string& bytes, size_t chunk) {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
      connection.Received(std::string_view(bytes).substr(at, chunk));
      most_held = std::max(most_held, connection.held());
    }
  }
};

// The hostile requests, and the ordinary ones beside them: each gets its answer as soon as its
// header is complete, whatever follows, holding at most kHeldLimit bytes on the way.
TEST(MonitorConnection, EveryRequestIsDecidedFromItsHeaderWithinItsLimits) {
  const struct {
    const char* name;
    std::string request;
    size_t chunk;
    State state;
    std::string status;  // the answer's first line
    std::string contains;
  } cases[] = {
      {"the page", Get("/"), 7, State::kAnswered, "HTTP/1.1 200 OK", "<!DOCTYPE html>"},
      {"the snapshot, byte by byte", Get("/state?x=1"), 1, State::kAnswered, "HTTP/1.1 200 OK",
       "\"offers\":0"},
      {"the event stream", Get("/events"), 5, State::kStreaming, "", ""},
      {"an unknown path", Get("/admin"), 64, State::kAnswered, "HTTP/1.1 404 Not Found", ""},
      {"HTTP/1.0", "GET /state HTTP/1.0\r\n\r\n", 64, State::kAnswered, "HTTP/1.1 200 OK", ""},
      {"POST", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab", 64, State::kAnswered,
       "HTTP/1.1 405 Method Not Allowed", "Allow: GET\r\n"},
      {"a GET with a body", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 64,
       State::kAnswered, "HTTP/1.1 413 Payload Too Large", "no request body"},
      {"a GET with an empty body", "GET /state HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 64,
       State::kAnswered, "HTTP/1.1 200 OK", ""},
      {"a body announced, never sent",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n", 64, State::kAnswered,
       "HTTP/1.1 413 Payload Too Large", ""},
      {"a chunked body", Chunked("5\r\nhello\r\n0\r\n\r\n"), 64, State::kAnswered,
       "HTTP/1.1 413 Payload Too Large", ""},
      {"a transfer coding other than chunked",
       "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\n\r\n", 64, State::kAnswered,
       "HTTP/1.1 413 Payload Too Large", ""},
      // A trailer field of 65,535 bytes: its parser throws when it is read.
      {"a chunked trailer of 65,535 bytes",
       Chunked("0\r\nX-T: " + std::string(65535, 'a') + "\r\n\r\n"), 4096, State::kClosed,
       "HTTP/1.1 413 Payload Too Large", ""},
      // Chunk extensions and trailers are outside any header or body limit once read.
      {"4 MB of chunk extensions", Chunked("1" + Repeat(";e=x", 1 << 20)), 4096, State::kClosed,
       "HTTP/1.1 413 Payload Too Large", ""},
      {"4 MB of trailers", Chunked("0\r\n" + Repeat("X-T: aaaaaaaaaaa\r\n", 1 << 18)), 4096,
       State::kClosed, "HTTP/1.1 413 Payload Too Large", ""},
      {"huge headers", "GET / HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n", 4096,
       State::kAnswered, "HTTP/1.1 431 Request Header Fields Too Large", ""},
      {"headers never ended", "GET / HTTP/1.1\r\n" + std::string(1 << 20, 'a'), 4096,
       State::kClosed, "HTTP/1.1 431 Request Header Fields Too Large", ""},
      // Within 8 KiB of header, 2,000 fields: each costs the parser more than its 4 bytes.
      {"thousands of tiny fields", "GET / HTTP/1.1\r\n" + Repeat("a:\r\n", 2000) + "\r\n", 4096,
       State::kAnswered, "HTTP/1.1 431 Request Header Fields Too Large", ""},
      {"garbage", "hello there\r\n\r\n", 64, State::kAnswered, "HTTP/1.1 400 Bad Request", ""},
      {"pipelined: only the first is answered", Get("/admin") + Get("/") + Get("/events"), 4096,
       State::kAnswered, "HTTP/1.1 404 Not Found", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fed fed;
    fed.Feed(c.request, c.chunk);
    EXPECT_EQ(fed.connection.state(), c.state);
    EXPECT_FALSE(fed.connection.faulted());
    EXPECT_LE(fed.most_held, MonitorConnection::kHeldLimit);
    EXPECT_EQ(fed.connection.held(), 0u);
    const std::string& answer = fed.connection.answer();
    EXPECT_EQ(answer.substr(0, answer.find('\r')), c.status);
    EXPECT_NE(answer.find(c.contains), std::string::npos) << answer;
    if (!answer.empty()) {
      EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos);
      const size_t body = answer.find("\r\n\r\n") + 4;
      EXPECT_NE(answer.find("\r\nContent-Length: " + std::to_string(answer.size() - body) + "\r\n"),
                std::string::npos)
          << answer;
    }
    EXPECT_EQ(fed.viewers.size(), c.state == State::kStreaming ? 1u : 0u);
  }
}

TEST(MonitorConnection, WhatFollowsAnAnswerIsDroppedUpToTheDrainLimit) {
  Fed fed;
  fed.Feed(Get("/admin"), 4096);
  ASSERT_EQ(fed.connection.state(), State::kAnswered);
  fed.Feed(std::string(MonitorConnection::kDrainLimit, 'x'), 4096);
  EXPECT_EQ(fed.connection.state(), State::kAnswered);
  fed.Feed("x", 1);
  EXPECT_EQ(fed.connection.state(), State::kClosed);
  EXPECT_EQ(fed.most_held, 0u);
}

TEST(MonitorConnection, TheDeadlineClosesWhatIsNotAnswered) {
  for (const std::string& part : {std::string(), std::string("GET / HTTP/1.1\r\nHost: x\r\n")}) {
    Fed fed;
    fed.Feed(part, 4);
    fed.connection.Ended();
    EXPECT_EQ(fed.connection.state(), State::kClosed);
    EXPECT_EQ(fed.connection.answer(), "");
    EXPECT_EQ(fed.connection.held(), 0u);
  }
}

TEST(MonitorConnection, StreamsAreRefusedPastTheViewersAndAfterTheSession) {
  Fed fed;
  fed.routes.Finish();
  fed.Feed(Get("/events"), 64);
  EXPECT_EQ(fed.connection.answer().substr(0, 33), "HTTP/1.1 503 Service Unavailable\r");
  EXPECT_EQ(fed.viewers.size(), 0u);

  MonitorFeed feed;
  MonitorViewers viewers(MonitorViewers::kQueueLimit, 1);
  MonitorRoutes routes(feed, viewers);
  EXPECT_TRUE(routes.Get("/events").viewer);
  const MonitorReply second = routes.Get("/events");
  EXPECT_FALSE(second.viewer);
  EXPECT_EQ(second.status, 503);
  EXPECT_EQ(routes.served(), 1);
}

TEST(MonitorConnection, AnExceptionInHandlingClosesTheConnectionAndIsReported) {
  MonitorConnection connection(
      [](std::string_view) -> MonitorReply { throw std::length_error("field value too large"); });
  connection.Received(Get("/"));
  EXPECT_EQ(connection.state(), State::kClosed);
  EXPECT_TRUE(connection.faulted());
  EXPECT_EQ(connection.answer(), "");
  EXPECT_EQ(connection.held(), 0u);
}

}  // namespace
}  // namespace marketd
