// Writes SVG markup into a string: elements with escaped attribute values, real <text> (so the
// text stays selectable), marker shapes, and a chart frame with title, axes, ticks and labels.
// Coordinates are printed with at most two decimals, so the same data gives the same bytes.
#ifndef REPORT_SVG_H_
#define REPORT_SVG_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/palette.h"
#include "report/scale.h"

namespace report {

// Attribute name and raw value; the writer escapes the value.
using Attrs = std::vector<std::pair<std::string, std::string>>;

class Svg {
 public:
  // An <svg> of the given size with class `cls` and further attributes; `title` becomes its
  // accessible <title>.
  Svg(int width, int height, std::string_view cls, const Attrs& attrs, std::string_view title);

  // <g> groups; Close ends the innermost one.
  void Open(std::string_view tag, const Attrs& attrs);
  void Close();
  void Line(double x1, double y1, double x2, double y2, const Attrs& attrs = {});
  void Rect(double x, double y, double width, double height, const Attrs& attrs = {});
  void Polyline(const std::vector<std::pair<double, double>>& points, const Attrs& attrs = {});
  // `text` is escaped.
  void Text(double x, double y, std::string_view text, const Attrs& attrs = {});
  // A marker of the style's shape and colour centred at (x, y), size ~ 2r; `tooltip` becomes its
  // <title>.
  void Marker(const SeriesStyle& style, double x, double y, double r, const Attrs& attrs,
              std::string_view tooltip);
  // The document so far, with every open element closed.
  std::string Finish();

 private:
  void Element(std::string_view tag, const Attrs& attrs, bool self_closing);

  std::string out_;
  std::vector<std::string> open_;
};

// A chart's plotting area inside an SVG, with its scales.
struct Frame {
  int width = 560, height = 280;
  int left = 70, right = 20, top = 36, bottom = 48;
  double plot_left() const { return left; }
  double plot_right() const { return width - right; }
  double plot_top() const { return top; }
  double plot_bottom() const { return height - bottom; }
};

// Draws the chart's title (top), the axes with their ticks and tick labels, and the axis
// labels. Empty tick lists draw a bare axis.
void DrawFrame(Svg& svg, const Frame& frame, std::string_view title, const LinearScale& x,
               const std::vector<double>& x_ticks, std::string_view x_label, const LinearScale& y,
               const std::vector<double>& y_ticks, std::string_view y_label);

// A number as printed in coordinates.
std::string Coord(double value);

}  // namespace report

#endif  // REPORT_SVG_H_
