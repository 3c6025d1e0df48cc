#include "report/palette.h"

#include <array>

namespace report {

SeriesStyle StyleFor(size_t index) {
  // Okabe-Ito, most contrasting on white first (yellow, the faintest, last).
  static constexpr std::array<const char*, 8> kColours = {
      "#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000", "#F0E442"};
  static constexpr std::array<Shape, 8> kShapes = {
      Shape::kCircle,       Shape::kSquare, Shape::kTriangle, Shape::kDiamond,
      Shape::kTriangleDown, Shape::kCross,  Shape::kPlus,     Shape::kStar};
  const size_t colour = index % kColours.size();
  const size_t shape = (index + index / kColours.size()) % kShapes.size();
  return {kColours[colour], kShapes[shape]};
}

}  // namespace report
