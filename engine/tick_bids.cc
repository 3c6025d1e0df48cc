#include "engine/tick_bids.h"

#include <optional>

#include "engine/packed_numbers.h"

namespace market {

TickBids::TickBids(std::initializer_list<TickBid> bids) {
  for (const TickBid& bid : bids) Add(bid);
}

void TickBids::Add(const TickBid& bid) {
  if (!rows_.empty() && rows_.back().at_us == bid.at_us && rows_.back().price == bid.price) {
    AppendPacked(static_cast<int64_t>(bid.buyer) - last_buyer_, text_);
  } else {
    rows_.push_back({bid.at_us, bid.price, 0});
    AppendPacked(bid.buyer, text_);
  }
  rows_.back().end = static_cast<uint32_t>(text_.size());
  last_buyer_ = bid.buyer;
  ++count_;
}

std::string_view TickBids::buyers(size_t row) const {
  const size_t begin = row == 0 ? 0 : rows_[row - 1].end;
  return std::string_view(text_).substr(begin, rows_[row].end - begin);
}

std::vector<TickBid> TickBids::Unpacked() const {
  std::vector<TickBid> out;
  out.reserve(count_);
  for (size_t r = 0; r < rows_.size(); ++r) {
    const std::optional<std::vector<int64_t>> steps = UnpackNumbers(buyers(r));
    if (!steps) continue;  // never: the text was packed here
    int64_t buyer = 0;
    for (const int64_t step : *steps) {
      buyer += step;
      out.push_back({rows_[r].at_us, rows_[r].price, static_cast<uint32_t>(buyer)});
    }
  }
  return out;
}

void TickBids::Trim(size_t slack) {
  if ((rows_.capacity() - rows_.size()) * sizeof(Row) > slack) rows_.shrink_to_fit();
  if (text_.capacity() - text_.size() > slack) text_.shrink_to_fit();
}

}  // namespace market
