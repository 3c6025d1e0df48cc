#include "tournament/db/results_packer.h"

#include <utility>
#include <vector>

#include "engine/measures.h"
#include "engine/response_stats.h"
#include "tournament/db/results_reader.h"
#include "tournament/db/session_codec.h"

namespace tournament {
namespace {

// The lineup entry a buyer of the auction counts for: the entry of that name, or else the group it
// is a numbered member of; -1 for none.
int EntryOf(const std::vector<ParticipantRow>& rows, const std::string& buyer) {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].name == buyer) return static_cast<int>(i);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (BelongsTo(buyer, rows[i].name)) return static_cast<int>(i);
  }
  return -1;
}

// One good: its outcome into the goods column, its plan beside it (reusing the plan's strings).
void AddGood(GoodsEncoder& out, std::vector<GoodPlan>& plan, size_t at, int auction,
             const market::GoodResult& g, const std::vector<market::BuyerResult>& buyers) {
  if (plan.size() <= at) plan.emplace_back();
  GoodPlan& p = plan[at];
  p.auction = auction;
  p.id = g.good.id;
  p.kind = g.good.kind;
  p.seller = g.good.seller;
  p.round = g.good.round;
  p.initial = g.good.initial;
  p.resale = g.good.resale;
  p.reserve = g.good.reserve;
  const bool sold = g.outcome == market::Outcome::kSold;
  out.Add(OutcomeName(g.outcome), sold ? std::string_view(g.buyer) : std::string_view(),
          sold ? std::optional<int64_t>(g.price) : std::nullopt, g.collisions, g.sanctions);
  for (const market::BuyerValue& v : g.values) out.Value(buyers.at(v.buyer).name, v.value);
}

}  // namespace

void PackResults(const market::Results& results, const Lineup& lineup, PackedSession& packed) {
  SessionRecord& record = packed.record;
  std::vector<ParticipantRow> rows;
  StartRecord(lineup, record);
  rows.swap(record.participants);
  record.bids.reserve(results.bids.size());
  for (const market::BidRecord& b : results.bids) {
    record.bids.push_back({b.auction, b.good, b.price, b.buyer, b.at_us, b.response_us});
  }

  GoodsEncoder goods(std::move(packed.goods), std::move(packed.scratch));
  size_t good_at = 0;
  packed.goods_total = packed.goods_sold = 0;
  market::MarketMeasures session;
  std::vector<int64_t> surplus;
  std::vector<int> entry;
  for (const market::AuctionResult& auction : results.auctions) {
    // Each good measured once, for the market's measures and the winner's surplus alike:
    // each buyer's values of what it bought less the prices, less its fines.
    surplus.clear();
    for (const market::BuyerResult& b : auction.buyers) surplus.push_back(-b.fines);
    market::MarketMeasures measures;
    for (const market::GoodResult& g : auction.goods) {
      const market::GoodMeasures m = market::MeasureGood(g, auction.buyers);
      measures.Add(g, m);
      ++packed.goods_total;
      if (g.outcome == market::Outcome::kSold) {
        ++packed.goods_sold;
        record.revenue += g.price;
        for (size_t b = 0; b < auction.buyers.size(); ++b) {
          if (auction.buyers[b].name == g.buyer) surplus[b] += m.winner_value.value_or(0) - g.price;
        }
      }
      AddGood(goods, packed.plan, good_at++, auction.number, g, auction.buyers);
    }
    // Summed per auction first, as the market sums its session measures.
    session.Add(measures);
    for (size_t index = 0; index < auction.buyers.size(); ++index) {
      const market::BuyerResult& b = auction.buyers[index];
      const int at = EntryOf(rows, b.name);
      if (at < 0) continue;
      ParticipantRow& row = rows[static_cast<size_t>(at)];
      row.purchases += b.purchases;
      row.spend += b.spend;
      row.benefit += b.benefit;
      row.fines += b.fines;
      row.sanctions += b.sanctions;
      row.expulsions += b.expelled ? 1 : 0;
      row.surplus += surplus[index];
    }
  }
  packed.plan.resize(good_at);
  packed.goods = goods.Take(&packed.scratch);

  for (const market::ParticipantResult& p : results.participants) {
    for (ParticipantRow& row : rows) {
      if (row.kind == "builtin" || row.name != p.login) continue;
      row.logged_in = true;
      row.bids += p.bids;
      row.faults += p.faults;
      row.left = row.left || p.left;
      if (row.dropped.empty()) row.dropped = p.dropped;
      if (results.clock == "stepped") row.late_ticks = row.late_ticks.value_or(0) + p.late_ticks;
    }
  }
  for (ParticipantRow& row : rows) {
    if (!row.logged_in) continue;
    const market::ResponseStats stats = market::ResponseTimes(results.bids, row.name);
    row.response_count = stats.count;
    if (stats.count > 0) {
      row.response_median_us = stats.median_us;
      row.response_p99_us = stats.p99_us;
    }
  }
  packed.participants = EncodeEntries(rows, std::move(packed.participants));
  KeepFigures(rows, packed.entries);

  record.efficiency = session.efficiency();
  record.top_value_share = session.top_value_share();
  record.price_over_top = session.price_over_top();
  record.outcome = results.completed ? "completed" : "ended_early";
  record.detail = results.completed ? "" : results.ended_early;
}

}  // namespace tournament
