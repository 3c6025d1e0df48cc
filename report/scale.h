// Chart scales: a linear map from data values to pixels, and "nice" axis ticks (1, 2 or 5 times a
// power of ten) with their labels.
#ifndef REPORT_SCALE_H_
#define REPORT_SCALE_H_

#include <string>
#include <vector>

namespace report {

class LinearScale {
 public:
  // Maps [d0, d1] onto [r0, r1]; a domain of zero width maps everything to the range's middle.
  LinearScale(double d0, double d1, double r0, double r1);
  double operator()(double value) const;
  double domain_low() const { return d0_; }
  double domain_high() const { return d1_; }

 private:
  double d0_, d1_, r0_, r1_;
};

struct Ticks {
  double low = 0;   // the first tick, at or below the data's low
  double high = 1;  // the last tick, at or above the data's high
  double step = 1;
  std::vector<double> values;  // low, low + step, ..., high
};

// At most about `count` (>= 2) evenly spaced round ticks that cover [low, high]; a single value
// or a non-finite bound gets a sensible range around it.
Ticks NiceTicks(double low, double high, int count);

// A number for an axis or a label: no exponent, at most `decimals` decimals, trailing zeros and
// a "-0" dropped, so equal values always print alike.
std::string FormatNumber(double value, int decimals = 2);

}  // namespace report

#endif  // REPORT_SCALE_H_
