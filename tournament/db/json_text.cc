#include "tournament/db/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace tournament {

void JsonText::Grow(size_t bytes) {
  buffer_.resize(std::max({bytes, 2 * buffer_.size() + 256, buffer_.capacity()}));
}

JsonText& JsonText::Close(char c) {
  if (buffer_.size() < used_ + 1) buffer_.resize(2 * buffer_.size() + 256);
  buffer_[used_++] = c;
  return *this;
}

JsonText& JsonText::Key(std::string_view name) {
  String(name);
  return Close(':');
}

JsonText& JsonText::Digits(char* at, int64_t value) {
  used_ = static_cast<size_t>(std::to_chars(at, at + 20, value).ptr - buffer_.data());
  return *this;
}

JsonText& JsonText::Real(double value) {
  if (!std::isfinite(value)) return Null();
  char* at = Room(32);
  // The shortest text that reads back as the same double.
  used_ = static_cast<size_t>(std::to_chars(at, at + 32, value).ptr - buffer_.data());
  return *this;
}

JsonText& JsonText::String(std::string_view value) {
  char* out = Room(6 * value.size() + 2);  // every byte escaped at worst: \u00XX
  *out++ = '"';
  // Most names need no escape: copied as they are checked, the rest escaped from the first byte
  // that needs it.
  const char* in = value.data();
  const char* const end = in + value.size();
  for (; in != end; ++in) {
    const auto c = static_cast<unsigned char>(*in);
    if (c < 0x20 || c == '"' || c == '\\') {
      return Escaped(out, {in, static_cast<size_t>(end - in)});
    }
    *out++ = static_cast<char>(c);
  }
  *out++ = '"';
  used_ = static_cast<size_t>(out - buffer_.data());
  return *this;
}

JsonText& JsonText::Escaped(char* out, std::string_view value) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char byte : value) {
    const auto c = static_cast<unsigned char>(byte);
    if (c >= 0x20 && c != '"' && c != '\\') {
      *out++ = byte;
    } else if (c >= 0x20) {
      *out++ = '\\';
      *out++ = byte;
    } else if (c == 0) {  // SQLite's JSON functions would end the string here
      *out++ = '\xef';
      *out++ = '\xbf';
      *out++ = '\xbd';
    } else {
      *out++ = '\\';
      *out++ = 'u';
      *out++ = '0';
      *out++ = '0';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 0xf];
    }
  }
  *out++ = '"';
  used_ = static_cast<size_t>(out - buffer_.data());
  return *this;
}

JsonText& JsonText::Null() {
  std::memcpy(Room(4), "null", 4);
  used_ += 4;
  return *this;
}

std::string JsonText::Take() {
  buffer_.resize(used_);
  used_ = 0;
  return std::move(buffer_);
}

}  // namespace tournament
