#include "marketd/descriptors.h"

#include <sys/resource.h>

#include <algorithm>

namespace marketd {

DescriptorShares ShareDescriptors(int market, int monitor, uint64_t limit, std::string* note) {
  const uint64_t budget = limit > kDescriptorsReserved + 1 ? limit - kDescriptorsReserved : 1;
  const auto want_market = static_cast<uint64_t>(std::max(market, 1));
  const auto want_monitor = static_cast<uint64_t>(std::max(monitor, 0));
  DescriptorShares shares{market, monitor};
  if (want_market + want_monitor <= budget) return shares;
  // What the monitor keeps: a quarter of the budget, at least 1 (never more than the budget).
  const uint64_t kept = std::min(want_monitor, std::max<uint64_t>(1, budget / 4));
  shares.market = static_cast<int>(std::min(want_market, std::max<uint64_t>(1, budget - kept)));
  if (monitor > 0) {
    const uint64_t left = budget - static_cast<uint64_t>(shares.market);
    shares.monitor = static_cast<int>(std::min(want_monitor, std::max<uint64_t>(left, 1)));
  }
  std::string what;
  if (shares.market < market) {
    what = "--max-connections lowered from " + std::to_string(market) + " to " +
           std::to_string(shares.market);
  }
  if (shares.monitor < monitor) {
    what +=
        (what.empty() ? "the monitor's connections lowered from " : " and the monitor's from ") +
        std::to_string(monitor) + " to " + std::to_string(shares.monitor);
  }
  if (!what.empty()) *note = what + " (open file limit " + std::to_string(limit) + ")";
  return shares;
}

uint64_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace marketd
