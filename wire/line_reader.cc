#include "wire/line_reader.h"

namespace wire {

void LineReader::Feed(std::string_view bytes, std::vector<Line>* lines) {
  while (!bytes.empty()) {
    const size_t newline = bytes.find('\n');
    const std::string_view part = bytes.substr(0, newline);
    if (!overlong_) {
      const size_t room = max_length_ - pending_.size();
      pending_.append(part.substr(0, room));
      if (part.size() > room) overlong_ = true;
    }
    if (newline == std::string_view::npos) return;
    lines->push_back({std::move(pending_), overlong_});
    pending_.clear();
    overlong_ = false;
    bytes.remove_prefix(newline + 1);
  }
}

void LineReader::Finish(std::vector<Line>* lines) {
  if (!pending_.empty() || overlong_) lines->push_back({std::move(pending_), overlong_});
  pending_.clear();
  overlong_ = false;
}

}  // namespace wire
