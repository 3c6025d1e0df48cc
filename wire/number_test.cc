#include "wire/number.h"

#include <gtest/gtest.h>

namespace wire {
namespace {

TEST(ParseUint64, TakesDigitsWithin64BitsOnly) {
  const struct {
    std::string text;
    std::optional<uint64_t> value;
  } cases[] = {
      {"0", 0},
      {"007", 7},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},  // one past the top
      {"99999999999999999999", std::nullopt},
      {"000000000000000000001", std::nullopt},  // 21 digits
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"12ab", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseUint64(c.text), c.value);
  }
}

}  // namespace
}  // namespace wire
