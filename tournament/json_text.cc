#include "tournament/json_text.h"

#include <charconv>
#include <cmath>

namespace tournament {

void JsonText::Separate() {
  if (text_.empty()) return;
  const char last = text_.back();
  if (last != '[' && last != '{' && last != ':') text_ += ',';
}

JsonText& JsonText::Key(std::string_view name) {
  String(name);
  text_ += ':';
  return *this;
}

JsonText& JsonText::Int(int64_t value) {
  Separate();
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text_.append(digits, end);
  return *this;
}

JsonText& JsonText::Real(double value) {
  if (!std::isfinite(value)) return Null();
  Separate();
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;  // shortest exact
  text_.append(digits, end);
  return *this;
}

JsonText& JsonText::String(std::string_view value) {
  Separate();
  static constexpr char kHex[] = "0123456789abcdef";
  text_ += '"';
  size_t plain = 0;  // the start of the bytes not yet copied
  for (size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    text_.append(value.data() + plain, i - plain);
    plain = i + 1;
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += static_cast<char>(c);
    } else {
      text_ += "\\u00";
      text_ += kHex[c >> 4];
      text_ += kHex[c & 0xf];
    }
  }
  text_.append(value.data() + plain, value.size() - plain);
  text_ += '"';
  return *this;
}

JsonText& JsonText::Null() {
  Separate();
  text_ += "null";
  return *this;
}

}  // namespace tournament
