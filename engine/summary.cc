#include "engine/summary.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "engine/measures.h"
#include "engine/response_stats.h"
#include "engine/text_table.h"
#include "wire/escape.h"

namespace market {
namespace {

std::string Num(int64_t value) { return std::to_string(value); }

std::string Plural(int64_t count, const char* word) {
  return Num(count) + " " + word + (count == 1 ? "" : "s");
}

std::string OutcomeText(const GoodResult& g) {
  std::string text;
  switch (g.outcome) {
    case Outcome::kPending:
      return "not offered";
    case Outcome::kSold:
      text = "sold to " + g.buyer + " at " + Num(g.price);
      break;
    case Outcome::kUnsold:
      text = "unsold";
      break;
    case Outcome::kInterrupted:
      text = "on offer when the session ended";
      break;
  }
  std::vector<std::string> notes;
  if (g.collisions > 0) notes.push_back(Plural(g.collisions, "collision"));
  if (g.sanctions > 0) notes.push_back(Plural(g.sanctions, "voided sale"));
  for (size_t i = 0; i < notes.size(); ++i) text += (i == 0 ? " (" : ", ") + notes[i];
  if (!notes.empty()) text += ")";
  return text;
}

// Microseconds as milliseconds with one decimal.
std::string Millis(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
  return text;
}

// A ratio with three decimals, or "-" when there is none.
std::string Ratio(const std::optional<double>& value) {
  if (!value) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", *value);
  return text;
}

std::string MeasuresText(const MarketMeasures& m) {
  return "revenue " + Num(m.revenue) + ", efficiency " + Ratio(m.efficiency()) +
         ", won by the top value " + Num(m.won_by_top) + " of " + Num(m.sold) +
         ", price / top value " + Ratio(m.price_over_top());
}

std::string AuctionText(const AuctionResult& auction) {
  int64_t sold = 0;
  int64_t unsold = 0;
  int64_t interrupted = 0;
  for (const GoodResult& g : auction.goods) {
    sold += g.outcome == Outcome::kSold;
    unsold += g.outcome == Outcome::kUnsold;
    interrupted += g.outcome == Outcome::kInterrupted;
  }
  std::string text = "\nAuction " + Num(auction.number) + ": " +
                     Plural(static_cast<int64_t>(auction.goods.size()), "good") + ", " + Num(sold) +
                     " sold, " + Num(unsold) + " unsold";
  const int64_t pending = static_cast<int64_t>(auction.goods.size()) - sold - unsold - interrupted;
  if (interrupted > 0) text += ", " + Num(interrupted) + " on offer at the end";
  if (pending > 0) text += ", " + Num(pending) + " not offered";
  text += "\n";
  TextTable goods({"round", "good", "kind", "seller", "initial", "resale", "reserve", "outcome"},
                  {true, false, false, false, true, true, true, false});
  for (const GoodResult& result : auction.goods) {
    const Good& g = result.good;
    goods.Add({Num(g.round), g.id, g.kind, g.seller, Num(g.initial), Num(g.resale), Num(g.reserve),
               OutcomeText(result)});
  }
  text += goods.Render("  ");
  TextTable buyers(
      {"buyer", "bought", "spend", "benefit", "sanctions", "fines", "surplus", "status"},
      {false, true, true, true, true, true, true, false});
  const std::vector<int64_t> surplus = Surpluses(auction);
  for (size_t i = 0; i < auction.buyers.size(); ++i) {
    const BuyerResult& b = auction.buyers[i];
    std::string status = b.participant ? "agent" : "rival";
    if (!b.participant && !b.strategy.empty()) status += " (" + b.strategy + ")";
    if (b.expelled) status += ", expelled";
    if (b.left) status += ", left";
    buyers.Add({b.name, Num(b.purchases), Num(b.spend), Num(b.benefit), Num(b.sanctions),
                Num(b.fines), Num(surplus[i]), status});
  }
  text += buyers.Render("  ");
  TextTable values({"good", "top value", "winner's value", "price / top value"},
                   {false, true, true, true});
  for (const GoodResult& result : auction.goods) {
    if (result.outcome == Outcome::kPending) continue;
    const GoodMeasures m = MeasureGood(result, auction.buyers);
    values.Add({result.good.id, Num(m.top_value), m.winner_value ? Num(*m.winner_value) : "-",
                Ratio(m.price_over_top)});
  }
  text += values.Render("  ");
  return text + "  " + MeasuresText(MeasureAuction(auction)) + "\n";
}

std::string ParticipantsText(const Results& results) {
  std::string text =
      "\nBuyers logged in: " + Num(static_cast<int64_t>(results.participants.size())) + "\n";
  TextTable table({"buyer", "bids", "counted", "response median ms", "p99 ms", "faults", "status"},
                  {false, true, true, true, true, true, false});
  for (const ParticipantResult& p : results.participants) {
    const ResponseStats stats = ResponseTimes(results.bids, p.login);
    std::string status = !p.dropped.empty() ? "dropped: " + p.dropped : p.left ? "left" : "stayed";
    table.Add({p.login, Num(p.bids), Num(stats.count),
               stats.count > 0 ? Millis(stats.median_us) : "-",
               stats.count > 0 ? Millis(stats.p99_us) : "-", Num(p.faults), status});
  }
  return text + table.Render("  ");
}

}  // namespace

std::string SummaryText(const Results& results) {
  std::string text = "Market session, seed " + std::to_string(results.seed) + ": ";
  if (results.completed) {
    text += Plural(results.auctions_planned, "auction") + ", market closed\n";
  } else {
    text += "ended early in auction " + Num(static_cast<int64_t>(results.auctions.size())) +
            " of " + Num(results.auctions_planned) + ": " + results.ended_early + "\n";
  }
  for (const AuctionResult& auction : results.auctions) text += AuctionText(auction);
  if (!results.auctions.empty()) {
    text += "\nMarket: " + MeasuresText(MeasureSession(results).market) + "\n";
  }
  if (results.ignored_total > 0) {
    text += "\nIgnored commands: " + Num(results.ignored_total) + "\n";
    for (const IgnoredLine& line : results.ignored) {
      text += "  " + line.from + ": \"" + wire::Printable(line.line) + "\" (" + line.reason + ")\n";
    }
    if (results.ignored_total > static_cast<int64_t>(results.ignored.size())) text += "  ...\n";
  }
  if (!results.participants.empty()) text += ParticipantsText(results);
  if (results.dropped_total > 0) {
    text += "\nConnections dropped: " + Num(results.dropped_total) + "\n";
    for (const DroppedConnection& d : results.dropped) {
      text += "  " + d.from + ": " + d.reason + "\n";
    }
    if (results.dropped_total > static_cast<int64_t>(results.dropped.size())) text += "  ...\n";
  }
  return text;
}

}  // namespace market
