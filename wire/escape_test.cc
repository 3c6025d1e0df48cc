#include "wire/escape.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Printable, EscapesWhatWouldBreakALine) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"bid", "bid"},
      {"", ""},
      {"a\nb", "a\\nb"},
      {"a\r\n", "a\\r\\n"},
      {"\ttab", "\\ttab"},
      {"back\\slash", "back\\\\slash"},
      {"\\n", "\\\\n"},  // a written-out escape stays distinct from the byte
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\x1b[2J", "\\x1b[2J"},
      {"\x7f", "\\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 kept
      {"\xff\xfe", "\xff\xfe"},        // high bytes kept as they are
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(wire::Printable(c.in), c.out);
  }
}

TEST(Printable, EveryByteGivesOneLine) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string out = wire::Printable(all);
  for (char ch : out) {
    const auto byte = static_cast<unsigned char>(ch);
    EXPECT_FALSE(byte < 0x20 || byte == 0x7f) << static_cast<int>(byte);
  }
}

}  // namespace
