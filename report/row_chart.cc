#include "report/row_chart.h"

#include <algorithm>
#include <cmath>

#include "report/palette.h"
#include "report/scale.h"
#include "report/svg.h"

namespace report {

double Quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  const double at = q * static_cast<double>(sorted.size() - 1);
  const auto below = static_cast<size_t>(std::floor(at));
  const size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (sorted[above] - sorted[below]) * (at - static_cast<double>(below));
}

std::string RowChart(const RowChartLayout& layout, const std::vector<ChartRow>& rows) {
  constexpr int kRowHeight = 26;
  Frame frame;
  frame.width = 900;
  frame.left = 230;
  frame.height =
      frame.top + frame.bottom + kRowHeight * static_cast<int>(std::max<size_t>(rows.size(), 1));

  double low = 0, high = 0;
  bool any = false;
  auto take = [&](double v) {
    if (!std::isfinite(v)) return;
    low = any ? std::min(low, v) : v;
    high = any ? std::max(high, v) : v;
    any = true;
  };
  for (const ChartRow& row : rows) {
    if (layout.distribution) {
      for (double v : row.values) take(v);
    } else {
      if (row.has_interval) {
        take(row.low);
        take(row.high);
      } else {
        take(row.mean);
      }
      take(row.mean);
    }
  }
  const Ticks ticks = NiceTicks(low, high, 8);
  const LinearScale x(ticks.low, ticks.high, frame.plot_left(), frame.plot_right());
  const auto row_y = [&](size_t i) {
    return frame.plot_top() + kRowHeight * (static_cast<double>(i) + 0.5);
  };
  // Rows sit on an index axis: the frame draws no ticks for it, the row labels stand in.
  const LinearScale y(0, 1, frame.plot_bottom(), frame.plot_top());

  Svg svg(frame.width, frame.height, layout.cls, {}, layout.title);
  DrawFrame(svg, frame, layout.title, x, ticks.values, layout.value_label, y, {}, layout.row_label);
  if (ticks.low < 0 && ticks.high > 0) {
    svg.Line(x(0), frame.plot_top(), x(0), frame.plot_bottom(), {{"class", "reference zero"}});
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const ChartRow& row = rows[i];
    const double cy = row_y(i);
    svg.Open("g", {{"class", "row"}, {"data-label", row.label}});
    svg.Text(frame.plot_left() - 8, cy + 4, row.label,
             {{"class", "row-label"}, {"text-anchor", "end"}});
    if (layout.distribution) {
      std::vector<double> sorted = row.values;
      std::sort(sorted.begin(), sorted.end());
      if (sorted.size() >= 2) {
        const double q1 = x(Quantile(sorted, 0.25)), q3 = x(Quantile(sorted, 0.75));
        const double median = x(Quantile(sorted, 0.5));
        svg.Rect(q1, cy - 8, q3 - q1, 16, {{"class", "box"}});
        svg.Line(median, cy - 8, median, cy + 8, {{"class", "median"}});
      }
      const SeriesStyle style = StyleFor(i);
      for (size_t k = 0; k < row.values.size(); ++k) {
        // A fixed spread across the row, so equal values stay visible and the bytes repeatable.
        const double jitter = (static_cast<double>((k * 7) % 11) - 5) * 1.2;
        svg.Marker({style.colour, Shape::kCircle}, x(row.values[k]), cy + jitter, 2.5,
                   {{"class", "session-point"}, {"fill-opacity", "0.7"}},
                   row.label + ": " + FormatNumber(row.values[k]));
      }
    } else {
      std::string tip = row.label + ": mean " + FormatNumber(row.mean);
      if (row.has_interval) {
        const double lo = x(row.low), hi = x(row.high);
        svg.Line(lo, cy, hi, cy, {{"class", "whisker"}});
        svg.Line(lo, cy - 6, lo, cy + 6, {{"class", "whisker-cap"}, {"stroke", "#0072B2"}});
        svg.Line(hi, cy - 6, hi, cy + 6, {{"class", "whisker-cap"}, {"stroke", "#0072B2"}});
        tip += ", 95% interval " + FormatNumber(row.low) + " to " + FormatNumber(row.high);
      } else {
        tip += ", no interval (fewer than 2 values)";
      }
      svg.Marker({"#D55E00", Shape::kDiamond}, x(row.mean), cy, 5, {{"class", "mean"}}, tip);
    }
    svg.Close();
  }
  return svg.Finish();
}

}  // namespace report
