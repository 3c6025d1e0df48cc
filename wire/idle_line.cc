#include "wire/idle_line.h"

#include "wire/number.h"

namespace wire {

namespace {
constexpr std::string_view kPrefix = "~idle ";
}  // namespace

std::string IdleLine(uint64_t bytes) { return std::string(kPrefix) + std::to_string(bytes); }

std::optional<uint64_t> ParseIdleLine(const std::string& line) {
  if (line.size() <= kPrefix.size() || line.compare(0, kPrefix.size(), kPrefix) != 0) {
    return std::nullopt;
  }
  return ParseUint64(line.substr(kPrefix.size()));
}

void AgentEscape::Escape(std::string_view bytes, std::string* out) {
  out->reserve(out->size() + bytes.size() + 1);
  for (const char c : bytes) {
    if (at_line_start_ && c == '~') out->push_back('~');
    out->push_back(c);
    at_line_start_ = c == '\n';
  }
}

}  // namespace wire
