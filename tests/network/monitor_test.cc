// The live monitor over loopback: marketd with --http serving viewers while a session runs. What
// is asserted is counts and order (every price reached the viewer, in sequence, no password, the
// stalled viewer was dropped), never how long something took.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/network/net_support.h"
#include "tests/support/scenario_text.h"

namespace nettest {
namespace {

using nlohmann::json;
using test_support::AuctionToml;
using test_support::GoodToml;

const std::string kPassword = "s3cret-Ann-pw";
const std::string kWrongPassword = "guess-Ann-pw";

// Nobody bids: each good runs from 4000 down to its reserve of 100 in steps of 10, 391 offers.
constexpr int kOffersPerGood = 391;
const std::string kScenario =
    "tick_ms = 5\nprice_step = 10\nadmission_window_ms = 0\nmin_buyers = 1\n"
    "[[registry]]\nlogin = \"Ann\"\npassword = \"" +
    kPassword + "\"\n" +
    AuctionToml({GoodToml("g1", 4000, 900, 100), GoodToml("g2", 4000, 900, 100)});

uint16_t ReadPort(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    const std::string text = ReadFile(path);
    if (!text.empty()) return static_cast<uint16_t>(std::stoi(text));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

std::string Get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"; }

std::string Chunked(const std::string& rest) {
  return "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + rest;
}

// A market waiting for its one registered buyer, Ann, for ten minutes: it is still waiting
// whatever the monitor's clients do, so that a buyer let in afterwards shows it untouched.
const std::string kWaitingMarket =
    "tick_ms = 100\nadmission_window_ms = 600000\nmin_buyers = 1\n[[registry]]\nlogin = "
    "\"Ann\"\npassword = \"pw\"\n" +
    AuctionToml({GoodToml("g1", 1000, 900, 700)});

// The market behind the monitor is untouched: its buyer is still let in, and SIGTERM ends the
// session it was waiting for with status 1.
void ExpectUntouched(Server& server) {
  Client ann(server.port);
  ASSERT_TRUE(ann.Send("admission Ann pw\n"));
  EXPECT_EQ(ann.ReadLine(20).value_or(""), "accept");
  kill(server.process.pid, SIGTERM);
  EXPECT_EQ(Wait(server.process, 60), 1);
}

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// A process's peak resident memory in KiB (VmHWM), 0 when unknown.
int64_t PeakKiB(pid_t pid) {
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::stoll(status.substr(at + 6));
}

// The JSON of every "data:" line of an event stream.
std::vector<json> Events(const std::vector<std::string>& lines) {
  std::vector<json> events;
  for (const std::string& line : lines) {
    if (line.rfind("data: ", 0) == 0) events.push_back(json::parse(line.substr(6)));
  }
  return events;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(MonitorNetwork, AViewerSeesEveryPriceInOrderAndAStalledOneIsDropped) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", kScenario);
  // Small kernel buffers and the smallest queue, so that the stalled viewer's share fills up
  // early in the session whatever the machine's timing.
  Server server =
      StartServer(dir + "/s.toml", dir,
                  {"--http", "0", "--http-port-file", dir + "/http-port", "--send-buffer", "4096",
                   "--http-queue-limit", "1024", "--linger-ms", "2000"});
  ASSERT_NE(server.port, 0);
  const uint16_t http = ReadPort(dir + "/http-port");
  ASSERT_NE(http, 0);

  // Both viewers are watching (their snapshot came) before anyone logs in.
  Client stalled(http, /*receive_buffer=*/1024);
  Client viewer(http);
  ASSERT_TRUE(stalled.Send(Get("/events")));
  ASSERT_TRUE(viewer.Send(Get("/events")));
  for (Client* c : {&stalled, &viewer}) {
    std::optional<std::string> line;
    while ((line = c->ReadLine(20)) && *line != "event: state") {
    }
    ASSERT_TRUE(line) << "no snapshot";
  }
  {
    Client guesser(server.port);
    ASSERT_TRUE(guesser.Send("admission Ann " + kWrongPassword + "\n"));
    EXPECT_EQ(guesser.ReadLine(20).value_or(""), "deny bad_password");
  }
  Client ann(server.port);
  ASSERT_TRUE(ann.Send("admission Ann " + kPassword + "\n"));
  ASSERT_EQ(ann.ReadLine(20).value_or(""), "accept");

  // A snapshot taken mid-session names the buyer and no password.
  std::optional<std::string> line;
  while ((line = viewer.ReadLine(20)) && line->find("\"offer\"") == std::string::npos) {
  }
  ASSERT_TRUE(line);
  Client snapshot(http);
  ASSERT_TRUE(snapshot.Send(Get("/state")));
  bool closed = false;
  const std::vector<std::string> state_lines = snapshot.ReadUntilClosed(20, &closed);
  ASSERT_TRUE(closed);
  ASSERT_FALSE(state_lines.empty());
  EXPECT_EQ(state_lines.front(), "HTTP/1.1 200 OK\r");
  const json state = json::parse(state_lines.back());
  EXPECT_EQ(state["buyers"][0]["login"], "Ann");
  EXPECT_EQ(Joined(state_lines).find("Ann-pw"), std::string::npos);

  const std::vector<std::string> lines = viewer.ReadUntilClosed(60, &closed);
  EXPECT_TRUE(closed);
  ann.Close();
  EXPECT_EQ(Wait(server.process, 60), 0) << ReadFile(server.process.err_path);

  // Every event after the first offer, numbered without a gap, ending with the end.
  const std::vector<json> events = Events(lines);
  ASSERT_FALSE(events.empty());
  const int64_t first = json::parse(line->substr(6))["seq"];
  for (size_t i = 0; i < events.size(); ++i) {
    ASSERT_EQ(events[i]["seq"], first + 1 + static_cast<int64_t>(i));
  }
  EXPECT_EQ(events.back()["type"], "end");
  int offers = 1;  // the one read above
  for (const json& e : events) offers += e["type"] == "offer" ? 1 : 0;
  EXPECT_EQ(offers, 2 * kOffersPerGood);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const json& e) { return e["type"] == "out_of_market"; }),
            2);
  EXPECT_EQ(Joined(lines).find("Ann-pw"), std::string::npos);

  // The stalled viewer was closed for falling behind, before the end reached it.
  const std::vector<std::string> stalled_lines = stalled.ReadUntilClosed(20, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(Joined(stalled_lines).find("\"end\""), std::string::npos);
  EXPECT_NE(ReadFile(server.process.err_path).find("Monitor: 2 viewers, 1 dropped"),
            std::string::npos)
      << ReadFile(server.process.err_path);
  const json results = json::parse(ReadFile(server.results_path));
  EXPECT_TRUE(results["completed"]);
}

// A hostile or mistaken HTTP client gets a defined answer and its connection closed; the market
// behind it is untouched.
TEST(MonitorNetwork, EveryRequestGetsADefinedAnswer) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", kWaitingMarket);
  Server server =
      StartServer(dir + "/s.toml", dir, {"--http", "0", "--http-port-file", dir + "/http-port"});
  ASSERT_NE(server.port, 0);
  const uint16_t http = ReadPort(dir + "/http-port");
  ASSERT_NE(http, 0);
  const struct {
    const char* name;
    std::string request;
    std::string status;
    std::string contains;
  } cases[] = {
      {"the page", Get("/"), "HTTP/1.1 200 OK", "new EventSource(\"events\")"},
      {"the page, with a query", Get("/?x=1"), "HTTP/1.1 200 OK", "<!DOCTYPE html>"},
      {"the snapshot", Get("/state"), "HTTP/1.1 200 OK", "\"offers\":0"},
      {"an unknown path", Get("/admin"), "HTTP/1.1 404 Not Found", "not found"},
      {"POST", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab",
       "HTTP/1.1 405 Method Not Allowed", "Allow: GET"},
      {"DELETE", "DELETE /events HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
       "only GET"},
      {"huge headers",
       "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large", ""},
      {"a huge body", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n",
       "HTTP/1.1 413 Payload Too Large", ""},
      {"garbage", "hello there\r\n\r\n", "HTTP/1.1 400 Bad Request", ""},
      {"a GET with a body", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello",
       "HTTP/1.1 413 Payload Too Large", "no request body"},
      // Its parser throws when the trailer is read; nothing of the body is read.
      {"a chunked trailer of 65,535 bytes",
       Chunked("0\r\nX-T: " + std::string(65535, 'a') + "\r\n\r\n"),
       "HTTP/1.1 413 Payload Too Large", ""},
      // Chunk extensions and trailers count towards no limit once read: refused unread.
      {"chunk extensions", Chunked("1" + Repeat(";e=x", 15000)), "HTTP/1.1 413 Payload Too Large",
       ""},
      {"trailers", Chunked("0\r\n" + Repeat("X-T: aaaaaaaaaaa\r\n", 3000)),
       "HTTP/1.1 413 Payload Too Large", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Client client(http);
    ASSERT_TRUE(client.Send(c.request));
    bool closed = false;
    const std::vector<std::string> lines = client.ReadUntilClosed(20, &closed);
    EXPECT_TRUE(closed);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), c.status + "\r");
    EXPECT_NE(Joined(lines).find(c.contains), std::string::npos) << Joined(lines);
  }
  {
    SCOPED_TRACE("a request never finished is closed");
    Client client(http);
    ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
    bool closed = false;
    const std::vector<std::string> lines = client.ReadUntilClosed(60, &closed);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(lines.empty()) << Joined(lines);
  }
  {
    SCOPED_TRACE("viewers past the cap are turned away");
    std::vector<std::unique_ptr<Client>> viewers;
    for (int i = 0; i < 64; ++i) {
      viewers.push_back(std::make_unique<Client>(http));
      ASSERT_TRUE(viewers.back()->Send(Get("/events")));
      ASSERT_EQ(viewers.back()->ReadLine(20).value_or(""), "HTTP/1.1 200 OK\r") << i;
    }
    Client extra(http);
    ASSERT_TRUE(extra.Send(Get("/events")));
    EXPECT_EQ(extra.ReadLine(20).value_or(""), "HTTP/1.1 503 Service Unavailable\r");
  }
  // The market was never touched: a buyer is still let in.
  ExpectUntouched(server);
}

// Bodies sent as fast as the kernel takes them, on two connections at once: refused after their
// header, they never pile up in marketd's memory, and the market keeps running.
TEST(MonitorNetwork, RequestBodiesNeverPileUp) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", kWaitingMarket);
  Server server =
      StartServer(dir + "/s.toml", dir, {"--http", "0", "--http-port-file", dir + "/http-port"});
  ASSERT_NE(server.port, 0);
  const uint16_t http = ReadPort(dir + "/http-port");
  ASSERT_NE(http, 0);
  const int64_t before = PeakKiB(server.process.pid);
  ASSERT_GT(before, 0);
  // 32 MB each: far more than the kernel's buffers hold, so that a server that kept reading
  // would have taken most of it in.
  const std::string extensions = Chunked("1" + Repeat(";e=x", 1 << 23));
  const std::string trailers = Chunked("0\r\n" + Repeat("X-T: aaaaaaaaaaa\r\n", 1 << 21));
  std::vector<std::thread> senders;
  std::vector<std::string> first_lines(2);
  for (size_t i = 0; i < 2; ++i) {
    senders.emplace_back([&, i] {
      Client client(http);
      client.Send(i == 0 ? extensions : trailers);  // fails once marketd has closed: expected
      first_lines[i] = client.ReadLine(20).value_or("");
    });
  }
  for (std::thread& sender : senders) sender.join();
  for (const std::string& line : first_lines) {
    EXPECT_EQ(line, "HTTP/1.1 413 Payload Too Large\r");
  }
  EXPECT_LT(PeakKiB(server.process.pid) - before, 16 * 1024);
  ExpectUntouched(server);
}

// However marketd dies mid-session, even by SIGKILL, its results file is never left empty or
// cut short: it is not there at all.
TEST(MonitorNetwork, AKilledMarketLeavesNoEmptyResultsFile) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", kWaitingMarket);
  Server server = StartServer(dir + "/s.toml", dir);
  ASSERT_NE(server.port, 0);
  Client ann(server.port);
  ASSERT_TRUE(ann.Send("admission Ann pw\n"));
  ASSERT_EQ(ann.ReadLine(20).value_or(""), "accept");
  kill(server.process.pid, SIGKILL);
  Wait(server.process, 60);
  EXPECT_FALSE(std::filesystem::exists(server.results_path));
}

}  // namespace
}  // namespace nettest
