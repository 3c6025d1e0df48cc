#include "report/price_clock_chart.h"

#include <algorithm>
#include <cmath>

#include "report/svg.h"

namespace report {
namespace {

constexpr double kMicros = 1e6;

// When the price a bid answered was announced, in seconds.
double Announced(const SessionBid& bid) {
  // In doubles: the difference of two arbitrary integers from the input may not fit in one.
  return (static_cast<double>(bid.at_us) -
          static_cast<double>(std::max<int64_t>(0, bid.response_us))) /
         kMicros;
}
double Arrived(const SessionBid& bid) { return static_cast<double>(bid.at_us) / kMicros; }

std::string Title(const SessionGood& good) {
  std::string title = "Good " + good.id;
  if (!good.kind.empty()) title += " (" + good.kind + ", seller " + good.seller + ")";
  title += ", auction " + std::to_string(good.auction);
  if (good.round > 0) title += " round " + std::to_string(good.round);
  return title;
}

size_t StyleIndex(const std::map<std::string, size_t>& buyer_styles, const std::string& buyer) {
  const auto it = buyer_styles.find(buyer);
  return it == buyer_styles.end() ? buyer_styles.size() : it->second;
}

// The initial and reserve prices as reference lines across the plot.
void References(Svg& svg, const Frame& frame, const LinearScale& y, const SessionGood& good) {
  const double l = frame.plot_left(), r = frame.plot_right();
  for (const auto& [price, name] : {std::pair{good.initial, std::string("initial")},
                                    std::pair{good.reserve, std::string("reserve")}}) {
    const double py = y(static_cast<double>(price));
    svg.Line(l, py, r, py, {{"class", "reference " + name}});
    svg.Text(r - 4, py - 4, name + " " + std::to_string(price),
             {{"class", "reference-label"}, {"text-anchor", "end"}});
  }
}

// A label drawn over a white outline of itself, so that it stays legible where it crosses the
// step line or the markers.
Attrs Haloed(Attrs attrs) {
  attrs.insert(attrs.end(), {{"paint-order", "stroke"},
                             {"stroke", "#ffffff"},
                             {"stroke-width", "6"},
                             {"stroke-linejoin", "round"}});
  return attrs;
}

// How the good left the clock, at x: the sale (a square labelled with buyer and price), the
// fall out of the market at the reserve (a cross, labelled a line above the reserve line's own
// label), or a note that it did neither.
void Ending(Svg& svg, const Frame& frame, const SessionGood& good, double ex,
            const LinearScale& y) {
  if (good.outcome == "sold") {
    const double ey = y(static_cast<double>(good.price));
    svg.Open("g", {{"class", "sale"}, {"data-buyer", good.buyer}});
    svg.Rect(ex - 7, ey - 7, 14, 14,
             {{"fill", "none"}, {"stroke", "#000000"}, {"stroke-width", "2"}});
    svg.Text(ex - 10, ey - 12, "sold to " + good.buyer + " at " + std::to_string(good.price),
             Haloed({{"text-anchor", "end"}}));
    svg.Close();
  } else if (good.outcome == "unsold") {
    const double ey = y(static_cast<double>(good.reserve));
    svg.Open("g", {{"class", "out-of-market"}});
    svg.Line(ex - 6, ey - 6, ex + 6, ey + 6, {{"stroke", "#000000"}, {"stroke-width", "2.5"}});
    svg.Line(ex - 6, ey + 6, ex + 6, ey - 6, {{"stroke", "#000000"}, {"stroke-width", "2.5"}});
    svg.Text(ex - 10, ey - 22, "fell out of the market at " + std::to_string(good.reserve),
             Haloed({{"text-anchor", "end"}}));
    svg.Close();
  } else {
    svg.Text((frame.plot_left() + frame.plot_right()) / 2, frame.plot_top() + 16,
             "not sold: " + good.outcome, {{"class", "unfinished"}, {"text-anchor", "middle"}});
  }
}

// Results without the good's clock: the price is known only where a participant's bid answered
// it; the stretches in between are drawn dashed.
std::string WithoutClock(const SessionGood& good,
                         const std::map<std::string, size_t>& buyer_styles) {
  const Frame frame;
  const bool sold = good.outcome == "sold";
  const bool timed = !good.bids.empty();

  // Time: from the first announcement to the last arrival, with room on the left for the run
  // down from the initial price and on the right for the end.
  double t0 = 0, t1 = 1;
  std::vector<double> x_ticks;
  std::string x_label = "clock (no bids recorded for this good, so no times)";
  if (timed) {
    t0 = Announced(good.bids.front());
    t1 = Arrived(good.bids.front());
    for (const SessionBid& b : good.bids) {
      t0 = std::min(t0, Announced(b));
      t1 = std::max(t1, Arrived(b));
    }
    const double pad = std::max((t1 - t0) * 0.15, 0.02);
    const Ticks ticks = NiceTicks(t0 - pad, t1 + pad, 6);
    x_ticks = ticks.values;
    t0 = ticks.low;
    t1 = ticks.high;
    x_label = "session time (s)";
  }
  const LinearScale x(t0, t1, frame.plot_left(), frame.plot_right());

  int64_t low = std::min(good.initial, good.reserve), high = std::max(good.initial, good.reserve);
  for (const SessionBid& b : good.bids) {
    low = std::min(low, b.price);
    high = std::max(high, b.price);
  }
  if (sold) {
    low = std::min(low, good.price);
    high = std::max(high, good.price);
  }
  const Ticks y_ticks = NiceTicks(static_cast<double>(low), static_cast<double>(high), 6);
  const LinearScale y(y_ticks.low, y_ticks.high, frame.plot_bottom(), frame.plot_top());

  Svg svg(frame.width, frame.height, "price-clock",
          {{"data-auction", std::to_string(good.auction)},
           {"data-good", good.id},
           {"data-outcome", good.outcome},
           {"data-bids", std::to_string(good.bids.size())}},
          "Price clock of " + Title(good));
  DrawFrame(svg, frame, Title(good), x, x_ticks, x_label, y, y_ticks.values, "price");

  References(svg, frame, y, good);

  // The offered price: known where a bid answered it, run down (dashed) in between.
  const double span = t1 - t0;
  const double start = timed ? t0 + span * 0.02 : 0.04;
  const double end = timed ? t1 - span * 0.04 : 0.9;
  const auto dp = [&](int64_t price) { return y(static_cast<double>(price)); };
  svg.Open("g", {{"class", "clock-path"}});
  double last_t = start;
  int64_t last_price = good.initial;
  for (size_t i = 0; i < good.bids.size(); ++i) {
    const SessionBid& b = good.bids[i];
    const double announced = Announced(b);
    if (i > 0 && b.price > last_price) {
      // A collision: the price in force rose again.
      svg.Line(x(last_t), dp(last_price), x(announced), dp(last_price), {{"class", "clock"}});
      svg.Line(x(announced), dp(last_price), x(announced), dp(b.price),
               {{"class", "collision"},
                {"data-from", std::to_string(last_price)},
                {"data-to", std::to_string(b.price)}});
    } else if (b.price != last_price || i == 0) {
      svg.Line(x(last_t), dp(last_price), x(announced), dp(b.price), {{"class", "clock-unknown"}});
    }
    svg.Line(x(announced), dp(b.price), x(std::max(announced, Arrived(b))), dp(b.price),
             {{"class", "clock"}});
    last_t = std::max(last_t, Arrived(b));
    last_price = b.price;
  }
  const int64_t final_price = sold ? good.price : good.reserve;
  if (sold || good.outcome == "unsold") {
    svg.Line(x(last_t), dp(last_price), x(end), dp(final_price), {{"class", "clock-unknown"}});
  }
  svg.Close();

  // Bids, in their buyers' styles.
  svg.Open("g", {{"class", "bids"}});
  for (const SessionBid& b : good.bids) {
    const size_t style = StyleIndex(buyer_styles, b.buyer);
    const double response_ms = static_cast<double>(b.response_us) / 1000;
    svg.Marker(StyleFor(style), x(Arrived(b)), dp(b.price), 5,
               {{"class", "bid"}, {"data-buyer", b.buyer}, {"data-price", std::to_string(b.price)}},
               b.buyer + " bids at " + std::to_string(b.price) + ", at " +
                   FormatNumber(Arrived(b), 3) + " s (" + FormatNumber(response_ms, 1) +
                   " ms after the price)");
  }
  svg.Close();

  // How the good left the clock.
  Ending(svg, frame, good, x(end), y);
  return svg.Finish();
}

// Results with the good's clock: the offered price as a step line against the time since the
// first offer, collisions as upward jumps, every tick bid as a marker of its buyer.
std::string WithClock(const SessionGood& good, const std::map<std::string, size_t>& buyer_styles) {
  const Frame frame;
  // In doubles throughout: differences of arbitrary integers from the input may not fit.
  const auto us = [](int64_t v) { return static_cast<double>(v); };
  const double first = us(good.clock.front().at_us);
  // When the last price stopped being in force: the good's end, or one more tick.
  double last = us(good.clock.back().at_us);
  if (good.ended_us) {
    last = std::max(last, us(*good.ended_us));
  } else if (good.clock.size() > 1) {
    last += last - us(good.clock[good.clock.size() - 2].at_us);
  }
  for (const SessionBid& b : good.tick_bids) last = std::max(last, us(b.at_us));
  // Milliseconds read best for short goods, seconds beyond a few.
  const bool in_ms = last - first < 5e6;
  const double unit = in_ms ? 1e3 : 1e6;
  const auto t = [&](double at_us) { return (at_us - first) / unit; };
  const double span = std::max(t(last), in_ms ? 1.0 : 0.001);
  const Ticks ticks = NiceTicks(0, span * 1.08, 6);
  const LinearScale x(ticks.low, ticks.high, frame.plot_left(), frame.plot_right());
  const std::string x_label =
      std::string("time since the first offer (") + (in_ms ? "ms" : "s") + ")";

  int64_t low = std::min(good.initial, good.reserve), high = std::max(good.initial, good.reserve);
  for (const ClockPoint& p : good.clock) {
    low = std::min(low, p.price);
    high = std::max(high, p.price);
  }
  for (const SessionBid& b : good.tick_bids) {
    low = std::min(low, b.price);
    high = std::max(high, b.price);
  }
  if (good.outcome == "sold") {
    low = std::min(low, good.price);
    high = std::max(high, good.price);
  }
  const Ticks y_ticks = NiceTicks(static_cast<double>(low), static_cast<double>(high), 6);
  const LinearScale y(y_ticks.low, y_ticks.high, frame.plot_bottom(), frame.plot_top());
  const auto dp = [&](int64_t price) { return y(static_cast<double>(price)); };

  Svg svg(frame.width, frame.height, "price-clock",
          {{"data-auction", std::to_string(good.auction)},
           {"data-good", good.id},
           {"data-outcome", good.outcome},
           {"data-bids", std::to_string(good.tick_bids.size())},
           {"data-steps", std::to_string(good.clock.size())}},
          "Price clock of " + Title(good));
  DrawFrame(svg, frame, Title(good), x, ticks.values, x_label, y, y_ticks.values, "price");
  References(svg, frame, y, good);

  // The step line: each price held until the next announcement; the rises drawn over it.
  std::vector<std::pair<double, double>> points;
  points.reserve(2 * good.clock.size() + 1);
  for (size_t i = 0; i < good.clock.size(); ++i) {
    const ClockPoint& p = good.clock[i];
    const double at = x(t(us(p.at_us)));
    if (i > 0) points.emplace_back(at, dp(good.clock[i - 1].price));
    points.emplace_back(at, dp(p.price));
  }
  points.emplace_back(x(t(last)), dp(good.clock.back().price));
  svg.Open("g", {{"class", "clock-path"}});
  svg.Polyline(points, {{"class", "clock"}});
  for (size_t i = 1; i < good.clock.size(); ++i) {
    const ClockPoint& p = good.clock[i];
    if (!p.collision) continue;
    const double at = x(t(us(p.at_us)));
    const int64_t from = good.clock[i - 1].price;
    svg.Line(at, dp(from), at, dp(p.price),
             {{"class", "collision"},
              {"data-from", std::to_string(from)},
              {"data-to", std::to_string(p.price)}});
  }
  svg.Close();

  // Bids: several at one time and price (rivals decide when the tick is decided) stand side by
  // side to the left of that point, so that each stays visible.
  svg.Open("g", {{"class", "bids"}});
  size_t same = 0;
  for (size_t i = 0; i < good.tick_bids.size(); ++i) {
    const SessionBid& b = good.tick_bids[i];
    const bool repeat =
        i > 0 && good.tick_bids[i - 1].at_us == b.at_us && good.tick_bids[i - 1].price == b.price;
    same = repeat ? same + 1 : 0;
    const double since = t(us(b.at_us));
    const double bx = x(since) - 9.0 * static_cast<double>(std::min<size_t>(same, 40));
    svg.Marker(StyleFor(StyleIndex(buyer_styles, b.buyer)), bx, dp(b.price), 5,
               {{"class", "bid"}, {"data-buyer", b.buyer}, {"data-price", std::to_string(b.price)}},
               b.buyer + " bids at " + std::to_string(b.price) + ", " +
                   FormatNumber(since, in_ms ? 1 : 3) + (in_ms ? " ms" : " s") +
                   " after the first offer (" +
                   FormatNumber(static_cast<double>(b.response_us) / 1000, 1) +
                   " ms after the price)");
  }
  svg.Close();

  Ending(svg, frame, good, x(t(last)), y);
  return svg.Finish();
}

}  // namespace

std::string GoodCaption(const SessionGood& good) {
  std::string text = good.outcome == "sold"
                         ? "sold to " + good.buyer + " at " + std::to_string(good.price)
                         : good.outcome;
  text += good.has_clock ? "; " + std::to_string(good.clock.size()) + " prices, " +
                               std::to_string(good.tick_bids.size()) + " bids"
                         : "; " + std::to_string(good.bids.size()) + " recorded bids";
  if (good.collisions > 0) text += ", " + std::to_string(good.collisions) + " collisions";
  if (good.sanctions > 0) text += ", " + std::to_string(good.sanctions) + " voided sales";
  return text;
}

std::string PriceClockChart(const SessionGood& good,
                            const std::map<std::string, size_t>& buyer_styles) {
  return good.has_clock && !good.clock.empty() ? WithClock(good, buyer_styles)
                                               : WithoutClock(good, buyer_styles);
}

}  // namespace report
