#include "report/session_report.h"

#include <map>

#include "report/html_escape.h"
#include "report/html_page.h"
#include "report/price_clock_chart.h"
#include "report/svg.h"

namespace report {
namespace {

std::string MeasureTable(const MeasureList& measures, std::string_view cls) {
  HtmlTable table(cls, {"measure", "value"}, {1});
  for (const auto& [name, value] : measures) table.AddRow({name, value});
  return table.Html();
}

std::string BuyerTable(const std::vector<SessionBuyer>& buyers) {
  HtmlTable table("buyers",
                  {"buyer", "strategy", "bought", "spend", "benefit", "fines", "surplus",
                   "sanctions", "status"},
                  {2, 3, 4, 5, 6, 7});
  for (const SessionBuyer& b : buyers) {
    std::string status = b.participant ? "agent" : "rival";
    if (b.expelled) status += ", expelled";
    if (b.left) status += ", left";
    table.AddRow({b.name, b.strategy, std::to_string(b.purchases), std::to_string(b.spend),
                  std::to_string(b.benefit), std::to_string(b.fines), std::to_string(b.surplus),
                  std::to_string(b.sanctions), status},
                 "buyer", {{"data-buyer", b.name}});
  }
  return table.Html();
}

// A buyer's marker as a small inline SVG beside its name.
std::string LegendItem(const SeriesStyle& style, std::string_view name) {
  Svg svg(16, 16, "legend-marker", {}, "marker of " + std::string(name));
  svg.Marker(style, 8, 8, 5, {}, name);
  return "<span class=\"item\">" + svg.Finish() + " <span class=\"name\">" + EscapeHtml(name) +
         "</span></span>";
}

// The bids a good's chart draws: every tick bid when its clock is recorded, else the
// participants' bids.
const std::vector<SessionBid>& DrawnBids(const SessionGood& good) {
  return good.has_clock ? good.tick_bids : good.bids;
}

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

}  // namespace

std::string SessionReport(const SessionData& data, std::string_view source) {
  // Each bidder keeps its style over the whole page, in order of first bid drawn.
  std::map<std::string, size_t> styles;
  std::vector<std::string> bidders;
  bool clocks = false;
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) {
      clocks = clocks || g.has_clock;
      for (const SessionBid& b : DrawnBids(g)) {
        if (styles.emplace(b.buyer, styles.size()).second) bidders.push_back(b.buyer);
      }
    }
  }

  std::string body;
  body += Heading("Market measures");
  body += MeasureTable(data.measures, "measures session-measures");
  if (!data.surplus.empty()) {
    HtmlTable surplus("surplus", {"buyer", "surplus over the session"}, {1});
    for (const auto& [name, value] : data.surplus) surplus.AddRow({name, std::to_string(value)});
    body += "<h3>Surplus per buyer</h3>\n" + surplus.Html();
  }
  if (data.unmatched_bids > 0) {
    body += "<p class=\"note\">" + std::to_string(data.unmatched_bids) +
            " bids name no good of the results and are not drawn.</p>\n";
  }

  body += Heading("Price clocks");
  body += clocks
              ? "<p class=\"note\">Each chart shows one good's price clock: the offered price "
                "against the time since its first offer, one step per tick; an upward red jump: "
                "a collision. Markers: every bid at a tick, agents' and rivals', one style per "
                "buyer (bids made at one instant stand side by side); a square: the sale, with "
                "its buyer and price; a cross: the good falling out of the market at its reserve "
                "price.</p>\n"
              : "<p class=\"note\">These results do not record the goods' price clocks: each "
                "chart shows the offered price against the session's time where a participant's "
                "bid answered it. Solid: a price in force while a bid answered it; dashed: the "
                "clock running down between recorded bids; an upward red jump: a collision. "
                "Markers: the bids, one style per buyer; a square: the sale; a cross: the good "
                "leaving the market at its reserve price.</p>\n";
  body += "<div class=\"legend\">";
  for (size_t i = 0; i < bidders.size(); ++i) body += LegendItem(StyleFor(i), bidders[i]);
  if (bidders.empty()) body += "No bids recorded.";
  body += "</div>\n";

  for (const SessionAuction& auction : data.auctions) {
    body += "<section class=\"auction\" data-auction=\"" + std::to_string(auction.number) + "\">\n";
    body += Heading("Auction " + std::to_string(auction.number));
    body += "<h3>Buyers</h3>\n" + BuyerTable(auction.buyers);
    if (!auction.measures.empty()) {
      body += "<h3>Measures</h3>\n" + MeasureTable(auction.measures, "measures auction-measures");
    }
    body += "<div class=\"charts\">\n";
    for (const SessionGood& good : auction.goods) {
      body += "<figure class=\"good\">\n" + PriceClockChart(good, styles) + "<figcaption>" +
              EscapeHtml(GoodCaption(good)) + "</figcaption>\n</figure>\n";
    }
    body += "</div>\n</section>\n";
  }

  std::string subtitle =
      std::string(source) + ": " + std::to_string(data.auctions.size()) + " auctions, " +
      (data.completed
           ? std::string("market closed")
           : "ended early" + (data.ended_early.empty() ? std::string() : ": " + data.ended_early)) +
      ", " +
      (clocks ? std::to_string(data.tick_bids) + " bids at ticks"
              : std::to_string(data.bids) + " recorded bids");
  return HtmlPage("Market session, seed " + data.seed, subtitle, body);
}

}  // namespace report
