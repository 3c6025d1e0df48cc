// Colours and marker shapes that stay distinguishable for colour-blind readers: the eight-colour
// Okabe-Ito palette, each colour paired with its own marker shape, so a series is told apart by
// shape as well as by colour.
#ifndef REPORT_PALETTE_H_
#define REPORT_PALETTE_H_

#include <cstddef>
#include <string>

namespace report {

enum class Shape { kCircle, kSquare, kTriangle, kDiamond, kTriangleDown, kCross, kPlus, kStar };

struct SeriesStyle {
  std::string colour;  // "#RRGGBB"
  Shape shape;
};

// The style of series `index`; after eight the colours repeat with the shapes shifted.
SeriesStyle StyleFor(size_t index);

}  // namespace report

#endif  // REPORT_PALETTE_H_
