// Offer-to-bid response times: how quickly buyers answered the prices the market announced.
#ifndef ENGINE_RESPONSE_STATS_H_
#define ENGINE_RESPONSE_STATS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/results.h"

namespace market {

// Response times of a set of counted bids, in microseconds; all zero when there are none.
struct ResponseStats {
  int64_t count = 0;
  int64_t median_us = 0;  // nearest rank
  int64_t p99_us = 0;     // nearest rank
};

// The stats of the counted bids of `buyer` (every buyer when empty).
ResponseStats ResponseTimes(const std::vector<BidRecord>& bids, std::string_view buyer = {});

}  // namespace market

#endif  // ENGINE_RESPONSE_STATS_H_
