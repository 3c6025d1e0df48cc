#include "wire/address.h"

#include <gtest/gtest.h>

namespace wire {
namespace {

TEST(Address, ParsesHostAndPortAndRejectsTheRest) {
  const struct {
    std::string text;
    bool ok;
    std::string host;
    uint16_t port;
  } cases[] = {
      {"127.0.0.1:7411", true, "127.0.0.1", 7411},
      {"localhost:0", true, "localhost", 0},
      {"[::1]:65535", true, "::1", 65535},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {":80", false, "", 0},
      {"127.0.0.1", false, "", 0},
      {"::1:80", false, "", 0},
      {"[]:80", false, "", 0},
      {"host:8x", false, "", 0},
      {"host:-1", false, "", 0},
      {"host:000080", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<Address> address = ParseAddress(c.text);
    ASSERT_EQ(address.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(address->host, c.host);
    EXPECT_EQ(address->port, c.port);
    EXPECT_EQ(FormatAddress(*address), c.text);
  }
}

}  // namespace
}  // namespace wire
