#include "marketd/descriptors.h"

#include <sys/resource.h>

#include <algorithm>

namespace marketd {

int ConnectionsWithin(int wanted, uint64_t limit, std::string* note) {
  const uint64_t room = limit > kDescriptorsReserved + 1 ? limit - kDescriptorsReserved : 1;
  if (static_cast<uint64_t>(wanted) <= room) return wanted;
  const int lowered = static_cast<int>(std::min<uint64_t>(room, static_cast<uint64_t>(wanted)));
  *note = "--max-connections lowered from " + std::to_string(wanted) + " to " +
          std::to_string(lowered) + " (open file limit " + std::to_string(limit) + ")";
  return lowered;
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
