#include "report/scale.h"

#include <cmath>
#include <cstdio>

namespace report {

LinearScale::LinearScale(double d0, double d1, double r0, double r1)
    : d0_(d0), d1_(d1), r0_(r0), r1_(r1) {}

double LinearScale::operator()(double value) const {
  if (d1_ == d0_ || !std::isfinite(d1_ - d0_)) return (r0_ + r1_) / 2;
  return r0_ + (value - d0_) / (d1_ - d0_) * (r1_ - r0_);
}

Ticks NiceTicks(double low, double high, int count) {
  if (!std::isfinite(low) || !std::isfinite(high)) low = high = 0;
  if (low > high) std::swap(low, high);
  if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) {
    const double pad = low == 0 ? 1 : std::fabs(low) * 0.1;
    low -= pad;
    high += pad;
  }
  if (count < 2) count = 2;
  const double raw = (high - low) / (count - 1);
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude * 10;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    if (m * magnitude >= raw) {
      step = m * magnitude;
      break;
    }
  }
  Ticks t;
  t.step = step;
  t.low = std::floor(low / step + 1e-9) * step;
  t.high = std::ceil(high / step - 1e-9) * step;
  const auto n = static_cast<long>(std::llround((t.high - t.low) / step));
  for (long i = 0; i <= n; ++i) t.values.push_back(t.low + static_cast<double>(i) * step);
  return t;
}

std::string FormatNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

}  // namespace report
