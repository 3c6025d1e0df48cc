// The 95% confidence interval of a mean: Student's t on the per-session values (two-sided, n - 1
// degrees of freedom), which holds for the few dozen sessions a tournament usually has.
#ifndef TOURNAMENT_INTERVAL_H_
#define TOURNAMENT_INTERVAL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tournament {

struct MeanInterval {
  size_t n = 0;
  double mean = 0;
  double half_width = 0;  // 0 for fewer than two values, which give no interval
  // One value says nothing of the spread: with fewer than two there is no interval.
  bool HasInterval() const { return n >= 2; }
  double low() const { return mean - half_width; }
  double high() const { return mean + half_width; }
};

// The two-sided 97.5% quantile of Student's t with `df` degrees of freedom (df >= 1): exact to
// three decimals up to 30, interpolated in 1/df beyond.
double StudentT975(size_t df);

MeanInterval Interval95(const std::vector<double>& values);

// The same from the count of the values, their sum and the sum of their squares, the values
// counted in units of 1/unit (each value v as v * unit, its square as v * v * unit).
MeanInterval IntervalOfSums(int64_t n, int64_t sum, int64_t squares, double unit);

// Whether two intervals share a point; a mean without an interval could lie anywhere, so it meets
// every other.
bool Overlap(const MeanInterval& a, const MeanInterval& b);

}  // namespace tournament

#endif  // TOURNAMENT_INTERVAL_H_
