#include "engine/response_stats.h"

#include <algorithm>

namespace market {

ResponseStats ResponseTimes(const std::vector<BidRecord>& bids, std::string_view buyer) {
  std::vector<int64_t> times;
  for (const BidRecord& bid : bids) {
    if (bid.counted && (buyer.empty() || bid.buyer == buyer)) times.push_back(bid.response_us);
  }
  ResponseStats stats;
  stats.count = static_cast<int64_t>(times.size());
  if (times.empty()) return stats;
  std::sort(times.begin(), times.end());
  // Nearest rank: the smallest time at least the given share of the bids is not above.
  const auto rank = [&](int64_t percent) {
    const int64_t n = stats.count;
    const int64_t r = (n * percent + 99) / 100;
    return times[static_cast<size_t>(std::max<int64_t>(r, 1) - 1)];
  };
  stats.median_us = rank(50);
  stats.p99_us = rank(99);
  return stats;
}

}  // namespace market
