#include "engine/packed_numbers.h"

namespace market {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr unsigned kMore = 32;  // set in every character of a number but its last
constexpr unsigned kBits = 5;

// The character's place in the alphabet, or -1.
int Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

}  // namespace

void AppendPacked(int64_t number, std::string& out) {
  // Zigzag: the sign in the lowest bit, so that small numbers of either sign stay short.
  uint64_t rest = (static_cast<uint64_t>(number) << 1) ^ static_cast<uint64_t>(number >> 63);
  do {
    unsigned digit = rest & (kMore - 1);
    rest >>= kBits;
    if (rest != 0) digit |= kMore;
    out += kAlphabet[digit];
  } while (rest != 0);
}

std::optional<std::vector<int64_t>> UnpackNumbers(std::string_view text) {
  std::vector<int64_t> numbers;
  uint64_t zigzag = 0;
  unsigned shift = 0;
  bool open = false;  // a number has begun and not ended
  for (const char c : text) {
    const int digit = Digit(c);
    if (digit < 0) return std::nullopt;
    const auto low = static_cast<uint64_t>(digit) & (kMore - 1);
    // The 13th character of a number holds its top 4 bits (12 x 5 = 60): anything beyond overflows.
    if (shift >= 64 || (shift == 60 && low > 0xF)) return std::nullopt;
    zigzag |= low << shift;
    shift += kBits;
    open = (static_cast<unsigned>(digit) & kMore) != 0;
    if (!open) {
      numbers.push_back(static_cast<int64_t>(zigzag >> 1) ^ -static_cast<int64_t>(zigzag & 1));
      zigzag = 0;
      shift = 0;
    }
  }
  if (open) return std::nullopt;
  return numbers;
}

}  // namespace market
