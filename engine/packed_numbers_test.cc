#include "engine/packed_numbers.h"

#include <gtest/gtest.h>

#include <limits>

namespace market {
namespace {

std::string Pack(const std::vector<int64_t>& numbers) {
  std::string out;
  for (const int64_t n : numbers) AppendPacked(n, out);
  return out;
}

// Each number's text, and the length that makes the form worth its while: small sizes short.
TEST(PackedNumbers, WritesEachNumberInAsFewCharactersAsItsSizeNeeds) {
  const struct {
    int64_t number;
    std::string text;
  } cases[] = {
      {0, "A"},   {-1, "B"},   {1, "C"},     {15, "e"},     {-16, "f"},     {16, "gB"},
      {90, "0F"}, {511, "-f"}, {512, "ggB"}, {4547, "m8I"}, {16383, "-_f"}, {16384, "gggB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(Pack({c.number}), c.text);
    EXPECT_EQ(UnpackNumbers(c.text), std::vector<int64_t>{c.number});
  }
}

TEST(PackedNumbers, EveryNumberComesBackInOrder) {
  const int64_t lo = std::numeric_limits<int64_t>::min();
  const int64_t hi = std::numeric_limits<int64_t>::max();
  std::vector<int64_t> numbers = {0,  1,  -1,     31,    32, -33, 1'000'000, -987'654'321,
                                  lo, hi, lo + 1, hi - 1};
  for (int64_t n = -70'000; n <= 70'000; n += 7) numbers.push_back(n);
  for (int shift = 0; shift < 63; ++shift) {
    numbers.push_back(int64_t{1} << shift);
    numbers.push_back(-(int64_t{1} << shift));
  }
  const std::string text = Pack(numbers);
  EXPECT_EQ(
      text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
      std::string::npos);
  EXPECT_EQ(UnpackNumbers(text), numbers);
  EXPECT_EQ(UnpackNumbers(""), std::vector<int64_t>{});
}

// What no writer makes is refused, never read as some other list.
TEST(PackedNumbers, RefusesTextNoWriterMakes) {
  const std::string longest = Pack({std::numeric_limits<int64_t>::min()});
  ASSERT_EQ(longest.size(), 13u);
  for (const std::string& bad : {
           std::string("AB C"),         // outside the alphabet
           std::string("A+"),           // standard base-64, not URL-safe
           std::string("A\"B"),         //
           std::string("Ag"),           // a number cut short
           std::string(13, 'g') + "A",  // more than 64 bits
           std::string(12, 'g') + "Q",  // 65 bits in the last character
           std::string("\0A", 2),       //
       }) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(UnpackNumbers(bad).has_value());
  }
  EXPECT_EQ(UnpackNumbers(longest).value(),
            std::vector<int64_t>{std::numeric_limits<int64_t>::min()});
}

}  // namespace
}  // namespace market
