#include "engine/commands.h"

#include <gtest/gtest.h>

namespace market {
namespace {

TEST(Commands, WithoutPasswordHidesWhateverFollowsAnAdmissionsLogin) {
  const struct {
    std::string line;
    std::string written;
  } cases[] = {
      {"admission CLogin TGatekeep", "admission CLogin ********"},
      {"  admission\tCLogin  Tgk \r", "  admission\tCLogin ********"},
      {"admission CLogin pass word", "admission CLogin ********"},
      {"admission CLogin", "admission CLogin"},
      {"admission CLogin   ", "admission CLogin   "},
      {"admission", "admission"},
      {"bid", "bid"},
      {"hello admission CLogin secret", "hello admission CLogin secret"},
      {"admissions CLogin secret", "admissions CLogin secret"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(WithoutPassword(c.line), c.written);
  }
}

}  // namespace
}  // namespace market
