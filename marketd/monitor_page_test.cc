#include "marketd/monitor_page.h"

#include <string>

#include <gtest/gtest.h>

#include "marketd/monitor_connection.h"
#include "marketd/monitor_feed.h"
#include "marketd/monitor_routes.h"
#include "marketd/monitor_viewers.h"
#include "tests/support/files.h"

namespace marketd {
namespace {

// What a browser receives for "/" is monitor_page.html to the byte, whole and last in the answer.
TEST(MonitorPage, IsServedAsItsFileToTheByte) {
  const std::string file = test_support::ReadFile(MONITOR_PAGE_FILE);
  ASSERT_GT(file.size(), 1000u) << MONITOR_PAGE_FILE;
  EXPECT_EQ(MonitorPage(), file);

  MonitorFeed feed;
  MonitorViewers viewers;
  MonitorRoutes routes(feed, viewers);
  const MonitorReply reply = routes.Get("/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, file);

  MonitorConnection connection([&](std::string_view path) { return routes.Get(path); });
  connection.Received("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_EQ(connection.state(), MonitorConnection::State::kAnswered);
  const std::string answer = connection.answer();
  ASSERT_GE(answer.size(), file.size());
  EXPECT_EQ(answer.substr(answer.size() - file.size()), file);
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(file.size()) + "\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace marketd
