#include "engine/strategies/equilibrium.h"

#include <algorithm>
#include <cmath>

namespace market {

int64_t EquilibriumBidder::Limit(int64_t value, int64_t reserve, int buyers) {
  if (value < reserve) return -1;
  const int64_t n = std::max(buyers, 1);
  // Exact in integers without a reserve, so that (n-1)/n of a value is never one unit short.
  if (reserve <= 0 || value == 0) return value * (n - 1) / n;
  // b(v) = ((n-1) v + r (r/v)^(n-1)) / n, which lies in [r, v].
  const double v = static_cast<double>(value);
  const double r = static_cast<double>(reserve);
  const double b =
      ((static_cast<double>(n) - 1.0) * v + r * std::pow(r / v, static_cast<double>(n - 1))) /
      static_cast<double>(n);
  return std::clamp(static_cast<int64_t>(std::floor(b + 1e-9)), reserve, value);
}

bool EquilibriumBidder::Bids(int64_t price, int64_t credit, int buyers) const {
  return price <= Limit(value_, reserve_, buyers) && price <= credit;
}

}  // namespace market
