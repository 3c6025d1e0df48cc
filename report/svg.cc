#include "report/svg.h"

#include <cmath>

#include "report/html_escape.h"

namespace report {

std::string Coord(double value) { return FormatNumber(value, 2); }

Svg::Svg(int width, int height, std::string_view cls, const Attrs& attrs, std::string_view title) {
  Attrs all = {{"xmlns", "http://www.w3.org/2000/svg"},
               {"class", std::string(cls)},
               {"width", std::to_string(width)},
               {"height", std::to_string(height)},
               {"viewBox", "0 0 " + std::to_string(width) + " " + std::to_string(height)},
               {"role", "img"}};
  all.insert(all.end(), attrs.begin(), attrs.end());
  Open("svg", all);
  out_ += "<title>" + EscapeHtml(title) + "</title>\n";
}

void Svg::Element(std::string_view tag, const Attrs& attrs, bool self_closing) {
  out_ += "<";
  out_ += tag;
  for (const auto& [name, value] : attrs) out_ += " " + name + "=\"" + EscapeHtml(value) + "\"";
  out_ += self_closing ? "/>\n" : ">";
}

void Svg::Open(std::string_view tag, const Attrs& attrs) {
  Element(tag, attrs, false);
  out_ += "\n";
  open_.emplace_back(tag);
}

void Svg::Close() {
  if (open_.empty()) return;
  out_ += "</" + open_.back() + ">\n";
  open_.pop_back();
}

void Svg::Line(double x1, double y1, double x2, double y2, const Attrs& attrs) {
  Attrs all = {{"x1", Coord(x1)}, {"y1", Coord(y1)}, {"x2", Coord(x2)}, {"y2", Coord(y2)}};
  all.insert(all.end(), attrs.begin(), attrs.end());
  Element("line", all, true);
}

void Svg::Rect(double x, double y, double width, double height, const Attrs& attrs) {
  Attrs all = {{"x", Coord(x)},
               {"y", Coord(y)},
               {"width", Coord(std::max(0.0, width))},
               {"height", Coord(std::max(0.0, height))}};
  all.insert(all.end(), attrs.begin(), attrs.end());
  Element("rect", all, true);
}

void Svg::Polyline(const std::vector<std::pair<double, double>>& points, const Attrs& attrs) {
  std::string list;
  for (const auto& [x, y] : points) list += (list.empty() ? "" : " ") + Coord(x) + "," + Coord(y);
  Attrs all = {{"points", list}, {"fill", "none"}};
  all.insert(all.end(), attrs.begin(), attrs.end());
  Element("polyline", all, true);
}

void Svg::Text(double x, double y, std::string_view text, const Attrs& attrs) {
  Attrs all = {{"x", Coord(x)}, {"y", Coord(y)}};
  all.insert(all.end(), attrs.begin(), attrs.end());
  Element("text", all, false);
  out_ += EscapeHtml(text) + "</text>\n";
}

void Svg::Marker(const SeriesStyle& style, double x, double y, double r, const Attrs& attrs,
                 std::string_view tooltip) {
  auto point = [&](double dx, double dy) { return Coord(x + dx * r) + "," + Coord(y + dy * r); };
  auto polygon = [&](std::initializer_list<std::pair<double, double>> corners) {
    std::string list;
    for (const auto& [dx, dy] : corners) list += (list.empty() ? "" : " ") + point(dx, dy);
    return list;
  };
  std::string tag = "polygon";
  Attrs shape;
  const std::string& c = style.colour;
  switch (style.shape) {
    case Shape::kCircle:
      tag = "circle";
      shape = {{"cx", Coord(x)}, {"cy", Coord(y)}, {"r", Coord(r)}, {"fill", c}};
      break;
    case Shape::kSquare:
      shape = {{"points", polygon({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}})}, {"fill", c}};
      break;
    case Shape::kTriangle:
      shape = {{"points", polygon({{0, -1.2}, {1.1, 0.9}, {-1.1, 0.9}})}, {"fill", c}};
      break;
    case Shape::kDiamond:
      shape = {{"points", polygon({{0, -1.3}, {1.3, 0}, {0, 1.3}, {-1.3, 0}})}, {"fill", c}};
      break;
    case Shape::kTriangleDown:
      shape = {{"points", polygon({{0, 1.2}, {1.1, -0.9}, {-1.1, -0.9}})}, {"fill", c}};
      break;
    case Shape::kCross:
      tag = "path";
      shape = {
          {"d", "M" + point(-1, -1) + "L" + point(1, 1) + "M" + point(-1, 1) + "L" + point(1, -1)},
          {"stroke", c},
          {"stroke-width", "2.5"},
          {"fill", "none"}};
      break;
    case Shape::kPlus:
      tag = "path";
      shape = {{"d", "M" + point(-1.2, 0) + "L" + point(1.2, 0) + "M" + point(0, -1.2) + "L" +
                         point(0, 1.2)},
               {"stroke", c},
               {"stroke-width", "2.5"},
               {"fill", "none"}};
      break;
    case Shape::kStar:
      shape = {{"points", polygon({{0, -1.3},
                                   {0.35, -0.4},
                                   {1.25, -0.4},
                                   {0.55, 0.15},
                                   {0.8, 1.1},
                                   {0, 0.5},
                                   {-0.8, 1.1},
                                   {-0.55, 0.15},
                                   {-1.25, -0.4},
                                   {-0.35, -0.4}})},
               {"fill", c}};
      break;
  }
  shape.insert(shape.end(), attrs.begin(), attrs.end());
  Element(tag, shape, false);
  out_ += "<title>" + EscapeHtml(tooltip) + "</title></" + tag + ">\n";
}

std::string Svg::Finish() {
  while (!open_.empty()) Close();
  return out_;
}

void DrawFrame(Svg& svg, const Frame& frame, std::string_view title, const LinearScale& x,
               const std::vector<double>& x_ticks, std::string_view x_label, const LinearScale& y,
               const std::vector<double>& y_ticks, std::string_view y_label) {
  const double l = frame.plot_left(), r = frame.plot_right();
  const double t = frame.plot_top(), b = frame.plot_bottom();
  svg.Text(frame.width / 2.0, 20, title, {{"class", "chart-title"}, {"text-anchor", "middle"}});
  svg.Open("g", {{"class", "axes"}});
  for (double v : y_ticks) {
    const double py = y(v);
    svg.Line(l, py, r, py, {{"class", "grid"}});
    svg.Text(l - 6, py + 4, FormatNumber(v), {{"class", "tick"}, {"text-anchor", "end"}});
  }
  for (double v : x_ticks) {
    const double px = x(v);
    svg.Line(px, b, px, b + 5, {{"class", "axis"}});
    svg.Text(px, b + 18, FormatNumber(v), {{"class", "tick"}, {"text-anchor", "middle"}});
  }
  svg.Line(l, b, r, b, {{"class", "axis"}});
  svg.Line(l, t, l, b, {{"class", "axis"}});
  svg.Text((l + r) / 2, frame.height - 8, x_label,
           {{"class", "axis-label x-label"}, {"text-anchor", "middle"}});
  const double ly = (t + b) / 2;
  svg.Text(16, ly, y_label,
           {{"class", "axis-label y-label"},
            {"text-anchor", "middle"},
            {"transform", "rotate(-90 16 " + Coord(ly) + ")"}});
  svg.Close();
}

}  // namespace report
