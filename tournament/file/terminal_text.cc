#include "tournament/file/terminal_text.h"

#include "wire/escape.h"

namespace tournament {

std::string TerminalText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string printable = wire::Printable(text);
  std::string out;
  out.reserve(printable.size());
  for (size_t i = 0; i < printable.size(); ++i) {
    const auto lead = static_cast<unsigned char>(printable[i]);
    const auto next = i + 1 < printable.size() ? static_cast<unsigned char>(printable[i + 1]) : 0;
    if (lead == 0xc2 && next >= 0x80 && next <= 0x9f) {
      out += "\\u00";
      out += kHex[next >> 4];
      out += kHex[next & 15];
      ++i;
    } else {
      out += printable[i];
    }
  }
  return out;
}

bool HasControl(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7f) return true;
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) return true;
  }
  return false;
}

}  // namespace tournament
