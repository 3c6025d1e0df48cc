#include "tournament/run/masked_tail.h"

#include <algorithm>
#include <utility>

namespace tournament {

MaskedTail::MaskedTail(std::string secret, size_t keep) : secret_(std::move(secret)), keep_(keep) {}

void MaskedTail::Keep(std::string_view masked) {
  if (masked.size() >= keep_) {
    tail_.assign(masked.substr(masked.size() - keep_));
    return;
  }
  const size_t over =
      tail_.size() + masked.size() > keep_ ? tail_.size() + masked.size() - keep_ : 0;
  tail_.erase(0, over);
  tail_.append(masked);
}

void MaskedTail::Append(std::string_view data) {
  if (secret_.empty()) return Keep(data);
  pending_.append(data);
  const std::string_view text(pending_);
  size_t from = 0;
  for (size_t at = text.find(secret_); at != std::string_view::npos;
       at = text.find(secret_, from)) {
    Keep(text.substr(from, at - from));
    Keep("***");
    from = at + secret_.size();
  }
  // What is left holds no whole secret; only its last bytes may still begin one.
  const size_t hold = std::min(text.size() - from, secret_.size() - 1);
  Keep(text.substr(from, text.size() - from - hold));
  pending_.erase(0, pending_.size() - hold);
}

std::string MaskedTail::Text() const {
  std::string text = tail_ + pending_;
  if (text.size() > keep_) text.erase(0, text.size() - keep_);
  return text;
}

}  // namespace tournament
