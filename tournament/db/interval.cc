#include "tournament/db/interval.h"

#include <cmath>

namespace tournament {

double StudentT975(size_t df) {
  static const double kTable[30] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306,
                                    2.262,  2.228, 2.201, 2.179, 2.160, 2.145, 2.131, 2.120,
                                    2.110,  2.101, 2.093, 2.086, 2.080, 2.074, 2.069, 2.064,
                                    2.060,  2.056, 2.052, 2.048, 2.045, 2.042};
  if (df == 0) return INFINITY;
  if (df <= 30) return kTable[df - 1];
  // Beyond 30 the quantile is close to linear in 1/df.
  struct Point {
    double df, t;
  };
  static const Point kTail[] = {{30, 2.042}, {40, 2.021}, {60, 2.000}, {120, 1.980}};
  const double x = 1.0 / static_cast<double>(df);
  for (size_t i = 0; i + 1 < std::size(kTail); ++i) {
    const double x0 = 1.0 / kTail[i].df;
    const double x1 = 1.0 / kTail[i + 1].df;
    if (x <= x0 && x >= x1)
      return kTail[i + 1].t + (kTail[i].t - kTail[i + 1].t) * (x - x1) / (x0 - x1);
  }
  const double x0 = 1.0 / 120;
  return 1.960 + (1.980 - 1.960) * x / x0;
}

MeanInterval Interval95(const std::vector<double>& values) {
  MeanInterval r;
  r.n = values.size();
  if (r.n == 0) return r;
  double sum = 0;
  for (double v : values) sum += v;
  r.mean = sum / static_cast<double>(r.n);
  if (r.n < 2) return r;
  double squares = 0;
  for (double v : values) squares += (v - r.mean) * (v - r.mean);
  const double sd = std::sqrt(squares / static_cast<double>(r.n - 1));
  r.half_width = StudentT975(r.n - 1) * sd / std::sqrt(static_cast<double>(r.n));
  return r;
}

__extension__ typedef __int128 Wide;

MeanInterval IntervalOfSums(int64_t n, int64_t sum, int64_t squares, double unit) {
  MeanInterval r;
  if (n <= 0) return r;
  r.n = static_cast<size_t>(n);
  r.mean = static_cast<double>(sum) / unit / static_cast<double>(n);
  if (n < 2) return r;
  // n * squares * unit - sum * sum, in units of 1/unit^2, exact.
  const Wide spread =
      static_cast<Wide>(n) * squares * static_cast<Wide>(unit) - static_cast<Wide>(sum) * sum;
  const long double variance = spread <= 0 ? 0.0L
                                           : static_cast<long double>(spread) / unit / unit /
                                                 static_cast<long double>(n) /
                                                 static_cast<long double>(n - 1);
  const double sd = std::sqrt(static_cast<double>(variance));
  r.half_width = StudentT975(r.n - 1) * sd / std::sqrt(static_cast<double>(r.n));
  return r;
}

bool Overlap(const MeanInterval& a, const MeanInterval& b) {
  if (!a.HasInterval() || !b.HasInterval()) return true;
  return a.low() <= b.high() && b.low() <= a.high();
}

}  // namespace tournament
