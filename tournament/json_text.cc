#include "tournament/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace tournament {

char* JsonText::Room(size_t bytes) {
  const size_t need = used_ + 1 + bytes;
  if (buffer_.size() < need) buffer_.resize(std::max(need, 2 * buffer_.size() + 256));
  if (used_ > 0) {
    const char last = buffer_[used_ - 1];
    if (last != '[' && last != '{' && last != ':') buffer_[used_++] = ',';
  }
  return buffer_.data() + used_;
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

JsonText& JsonText::Int(int64_t value) {
  char* at = Room(20);
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
  static constexpr char kHex[] = "0123456789abcdef";
  char* out = Room(6 * value.size() + 2);  // every byte escaped at worst: \u00XX
  *out++ = '"';
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
