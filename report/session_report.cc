#include "report/session_report.h"

#include <map>

#include "report/auction_summary_chart.h"
#include "report/clock_data.h"
#include "report/clock_script.h"
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

std::string Subtitle(const SessionData& data, std::string_view source, bool clocks) {
  return std::string(source) + ": " + std::to_string(data.auctions.size()) + " auctions, " +
         (data.completed ? std::string("market closed")
                         : "ended early" + (data.ended_early.empty() ? std::string()
                                                                     : ": " + data.ended_early)) +
         ", " +
         (clocks ? std::to_string(data.tick_bids) + " bids at ticks"
                 : std::to_string(data.bids) + " recorded bids");
}

// The start of an auction's section: its heading, buyers' accounts and measures.
std::string AuctionStart(const SessionAuction& auction) {
  std::string body =
      "<section class=\"auction\" data-auction=\"" + std::to_string(auction.number) + "\">\n";
  body += Heading("Auction " + std::to_string(auction.number));
  body += "<h3>Buyers</h3>\n" + BuyerTable(auction.buyers);
  if (!auction.measures.empty()) {
    body += "<h3>Measures</h3>\n" + MeasureTable(auction.measures, "measures auction-measures");
  }
  return body;
}

size_t ClockMarks(const SessionData& data) {
  size_t marks = 0;
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) marks += DrawnBids(g).size() + g.clock.size();
  }
  return marks;
}

size_t GoodCount(const SessionData& data) {
  size_t goods = 0;
  for (const SessionAuction& a : data.auctions) goods += a.goods.size();
  return goods;
}

// The page's head for clocks drawn in the browser: a policy that lets it run its own inline
// script and fetch nothing; the style of the summary charts and pickers; and auctions laid out
// only when scrolled to, which is what lets a browser open a page of thousands of accounts.
constexpr std::string_view kOnDemandHead =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:\">\n"
    "<style>\n"
    "section.auction { content-visibility: auto; contain-intrinsic-size: auto 3000px; }\n"
    "svg .range { stroke: #999999; stroke-width: 1; }\n"
    "svg .good-mark { cursor: pointer; }\n"
    "svg .good-mark.picked .range { stroke: #D55E00; stroke-width: 3; }\n"
    ".picker { font-size: 13px; margin: 8px 0; }\n"
    ".picker select { max-width: 900px; }\n"
    "</style>\n";

// Each auction's goods in one summary chart, and the clock of the good a reader picks drawn by
// the page's script from the goods' data.
std::string OnDemandClocks(const SessionData& data, const std::map<std::string, size_t>& styles) {
  std::string body = "<p class=\"note\">This session has " + std::to_string(GoodCount(data)) +
                     " goods and " + std::to_string(ClockMarks(data)) +
                     " prices and bids to draw, too many for one page to draw every clock (it "
                     "draws them all up to " +
                     std::to_string(kInlineClocksMaxGoods) + " goods and " +
                     std::to_string(kInlineClocksMaxMarks) +
                     " prices and bids). Each auction shows its goods in one chart: the price "
                     "range from the reserve up to the initial price, a dot at the sale price, a "
                     "cross where the good fell out of the market. Pick a good in the list under "
                     "the chart, or click it in the chart, to draw its price clock: the offered "
                     "price as a step line against the time since its first offer; an upward red "
                     "jump: a collision; every bid at a tick a marker in its buyer's style (the "
                     "marker's tooltip names the buyer); a square: the sale; a cross: the good "
                     "falling out of the market at its reserve price.</p>\n"
                     "<noscript><p class=\"note\">Drawing a good's price clock needs "
                     "JavaScript.</p></noscript>\n";
  size_t first = 0;
  for (const SessionAuction& auction : data.auctions) {
    body += AuctionStart(auction);
    body += AuctionSummaryChart(auction, first) + "\n";
    if (!auction.goods.empty()) {
      body += "<p class=\"picker\"><label>Price clock of <select class=\"good-picker\">";
      for (size_t i = 0; i < auction.goods.size(); ++i) {
        const SessionGood& good = auction.goods[i];
        body += "<option value=\"" + std::to_string(first + i) + "\">" +
                EscapeHtml(good.id + ": " + GoodCaption(good)) + "</option>";
      }
      body += "</select></label></p>\n";
    }
    body += "<div class=\"clock-view\"></div>\n</section>\n";
    first += auction.goods.size();
  }
  // The data is JSON, not script: it never runs, and its text cannot close the element.
  body += "<script type=\"application/json\" id=\"clock-data\">" + ClockDataJson(data, styles) +
          "</script>\n";
  body += ClockScript();
  return body;
}

}  // namespace

bool DrawsEveryClock(const SessionData& data) {
  return GoodCount(data) <= kInlineClocksMaxGoods && ClockMarks(data) <= kInlineClocksMaxMarks;
}

std::string SessionReport(const SessionData& data, std::string_view source) {
  // Each bidder keeps its style over the whole page, in order of first bid drawn.
  std::map<std::string, size_t> styles;
  std::vector<std::string> bidders;
  bool clocks = false;
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) {
      clocks = clocks || g.has_clock;
      for (const SessionBid& b : DrawnBids(g)) {
        if (styles.try_emplace(b.buyer, styles.size()).second) bidders.push_back(b.buyer);
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
  if (!DrawsEveryClock(data)) {
    body += OnDemandClocks(data, styles);
    return HtmlPage("Market session, seed " + data.seed, Subtitle(data, source, clocks), body,
                    kOnDemandHead);
  }
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
    body += AuctionStart(auction);
    body += "<div class=\"charts\">\n";
    for (const SessionGood& good : auction.goods) {
      body += "<figure class=\"good\">\n" + PriceClockChart(good, styles) + "<figcaption>" +
              EscapeHtml(GoodCaption(good)) + "</figcaption>\n</figure>\n";
    }
    body += "</div>\n</section>\n";
  }

  return HtmlPage("Market session, seed " + data.seed, Subtitle(data, source, clocks), body);
}

}  // namespace report
