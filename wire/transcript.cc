#include "gateway/transcript.h"

namespace gateway {

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void Transcript::Write(market::Nanos at, char direction, std::string_view text) {
  if (file_ == nullptr) return;
  const long long micros = at.count() / 1000;
  // Flushed per entry: the transcript is most wanted when a session ends badly.
  if (std::fprintf(file_, "%lld.%06lld %c %s\n", micros / 1'000'000, micros % 1'000'000, direction,
                   Printable(text).c_str()) < 0 ||
      std::fflush(file_) != 0) {
    failed_ = true;
  }
}

bool Transcript::Close() {
  if (file_ == nullptr) return !failed_;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace gateway
