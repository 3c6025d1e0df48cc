#include "tournament/run/progress.h"

#include <cstdio>

namespace tournament {

std::string ProgressLine(int64_t done, int64_t total, int64_t run_here,
                         std::chrono::milliseconds elapsed) {
  char rate[32] = "--";
  char left[32] = "--";
  const double seconds = static_cast<double>(elapsed.count()) / 1000.0;
  if (run_here > 0 && seconds > 0) {
    const double per_second = static_cast<double>(run_here) / seconds;
    std::snprintf(rate, sizeof rate, "%.1f", per_second);
    const auto remaining =
        static_cast<int64_t>(static_cast<double>(total - done) / per_second + 0.5);
    std::snprintf(left, sizeof left, "%lld:%02lld", static_cast<long long>(remaining / 60),
                  static_cast<long long>(remaining % 60));
  }
  char line[128];
  std::snprintf(line, sizeof line, "%lld/%lld sessions, %s/s, %s left",
                static_cast<long long>(done), static_cast<long long>(total), rate, left);
  return line;
}

}  // namespace tournament
