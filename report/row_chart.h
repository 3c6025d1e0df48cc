// A horizontal chart with one labelled row per series on a shared value axis: either a mean with
// its 95% interval as whiskers, or a distribution as a box (quartiles and median) with every
// value as a point. Used for the leaderboard, the surplus per session and the revenue per
// scenario.
#ifndef REPORT_ROW_CHART_H_
#define REPORT_ROW_CHART_H_

#include <string>
#include <vector>

namespace report {

struct ChartRow {
  std::string label;
  double mean = 0;
  double low = 0, high = 0;    // the interval (whiskers)
  bool has_interval = true;    // false: the mean alone, no whisker (fewer than 2 values)
  std::vector<double> values;  // the distribution (box and points)
};

struct RowChartLayout {
  std::string cls;  // the <svg>'s class
  std::string title;
  std::string value_label;    // the value axis's label
  std::string row_label;      // the row axis's label
  bool distribution = false;  // box and points rather than whiskers
};

// Whiskers: each row has one element of class "mean", and one of class "whisker" when it has an
// interval (its axis then spans the whiskers; a row without one spans its mean). Distribution:
// one "box" per row with two or more values, one "session-point" per value.
std::string RowChart(const RowChartLayout& layout, const std::vector<ChartRow>& rows);

// The q-quantile (0..1) of sorted values, linearly interpolated; 0 for none.
double Quantile(const std::vector<double>& sorted, double q);

}  // namespace report

#endif  // REPORT_ROW_CHART_H_
