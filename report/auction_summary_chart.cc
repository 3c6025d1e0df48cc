#include "report/auction_summary_chart.h"

#include <algorithm>

#include "report/price_clock_chart.h"
#include "report/svg.h"

namespace report {

std::string AuctionSummaryChart(const SessionAuction& auction, size_t first_index) {
  Frame frame;
  frame.width = 1100;
  frame.height = 300;
  const size_t n = auction.goods.size();
  const Ticks x_ticks = NiceTicks(1, static_cast<double>(std::max<size_t>(n, 2)), 10);
  const LinearScale x(x_ticks.low - 0.5, x_ticks.high + 0.5, frame.plot_left(), frame.plot_right());
  int64_t low = 0, high = 1;
  for (size_t i = 0; i < n; ++i) {
    const SessionGood& g = auction.goods[i];
    const int64_t a = std::min({g.initial, g.reserve, g.outcome == "sold" ? g.price : g.reserve});
    const int64_t b = std::max({g.initial, g.reserve, g.outcome == "sold" ? g.price : g.reserve});
    low = i == 0 ? a : std::min(low, a);
    high = i == 0 ? b : std::max(high, b);
  }
  const Ticks y_ticks = NiceTicks(static_cast<double>(low), static_cast<double>(high), 6);
  const LinearScale y(y_ticks.low, y_ticks.high, frame.plot_bottom(), frame.plot_top());
  const auto dp = [&](int64_t price) { return y(static_cast<double>(price)); };

  const std::string title = "Auction " + std::to_string(auction.number) + ": each good's prices";
  Svg svg(frame.width, frame.height, "auction-summary",
          {{"data-auction", std::to_string(auction.number)}}, title);
  DrawFrame(svg, frame, title, x, x_ticks.values, "good, in the auction's order", y, y_ticks.values,
            "price");
  for (size_t i = 0; i < n; ++i) {
    const SessionGood& g = auction.goods[i];
    const double gx = x(static_cast<double>(i + 1));
    svg.Open("g", {{"class", "good-mark"},
                   {"data-index", std::to_string(first_index + i)},
                   {"data-good", g.id},
                   {"data-outcome", g.outcome}});
    svg.Line(gx, dp(g.reserve), gx, dp(g.initial), {{"class", "range"}});
    const std::string tip = "Good " + g.id + ": " + GoodCaption(g);
    if (g.outcome == "sold") {
      svg.Marker(StyleFor(0), gx, dp(g.price), 3.5, {{"class", "sold"}}, tip);
    } else if (g.outcome == "unsold") {
      svg.Marker({"#000000", Shape::kCross}, gx, dp(g.reserve), 3.5, {{"class", "unsold"}}, tip);
    } else {
      svg.Marker({"#999999", Shape::kSquare}, gx, dp(g.initial), 3.5, {{"class", "unfinished"}},
                 tip);
    }
    svg.Close();
  }
  return svg.Finish();
}

}  // namespace report
