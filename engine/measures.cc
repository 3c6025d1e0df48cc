#include "engine/measures.h"

#include <algorithm>

namespace market {

GoodMeasures MeasureGood(const GoodResult& good, const std::vector<BuyerResult>& buyers) {
  GoodMeasures m;
  for (const BuyerValue& v : good.values) m.top_value = std::max(m.top_value, v.value);
  if (good.outcome == Outcome::kSold) {
    m.counts = true;
    int64_t value = 0;
    for (const BuyerValue& v : good.values) {
      if (v.buyer < buyers.size() && buyers[v.buyer].name == good.buyer) value = v.value;
    }
    m.winner_value = value;
    m.won_by_top = value == m.top_value;
    if (m.top_value > 0) {
      m.price_over_top = static_cast<double>(good.price) / static_cast<double>(m.top_value);
    }
  } else if (good.outcome == Outcome::kUnsold) {
    m.counts = !good.values.empty() && m.top_value >= good.good.reserve;
  }
  return m;
}

void MarketMeasures::Add(const GoodResult& good, const GoodMeasures& m) {
  ++goods;
  if (m.counts) {
    winner_values += m.winner_value.value_or(0);
    top_values += m.top_value;
  }
  if (good.outcome != Outcome::kSold) return;
  ++sold;
  revenue += good.price;
  won_by_top += m.won_by_top;
  if (m.price_over_top) {
    price_over_top_sum += *m.price_over_top;
    ++price_over_top_count;
  }
}

void MarketMeasures::Add(const MarketMeasures& other) {
  goods += other.goods;
  sold += other.sold;
  revenue += other.revenue;
  winner_values += other.winner_values;
  top_values += other.top_values;
  won_by_top += other.won_by_top;
  price_over_top_sum += other.price_over_top_sum;
  price_over_top_count += other.price_over_top_count;
}

std::optional<double> MarketMeasures::efficiency() const {
  if (top_values <= 0) return std::nullopt;
  return static_cast<double>(winner_values) / static_cast<double>(top_values);
}

std::optional<double> MarketMeasures::top_value_share() const {
  if (sold == 0) return std::nullopt;
  return static_cast<double>(won_by_top) / static_cast<double>(sold);
}

std::optional<double> MarketMeasures::price_over_top() const {
  if (price_over_top_count == 0) return std::nullopt;
  return price_over_top_sum / static_cast<double>(price_over_top_count);
}

std::vector<int64_t> Surpluses(const AuctionResult& auction) {
  std::vector<int64_t> surplus;
  for (const BuyerResult& b : auction.buyers) surplus.push_back(-b.fines);
  for (const GoodResult& g : auction.goods) {
    if (g.outcome != Outcome::kSold) continue;
    const GoodMeasures m = MeasureGood(g, auction.buyers);
    for (size_t b = 0; b < auction.buyers.size(); ++b) {
      if (auction.buyers[b].name == g.buyer) surplus[b] += m.winner_value.value_or(0) - g.price;
    }
  }
  return surplus;
}

MarketMeasures MeasureAuction(const AuctionResult& auction) {
  MarketMeasures m;
  for (const GoodResult& g : auction.goods) m.Add(g, MeasureGood(g, auction.buyers));
  return m;
}

SessionMeasures MeasureSession(const Results& results) {
  SessionMeasures s;
  for (const AuctionResult& a : results.auctions) {
    s.market.Add(MeasureAuction(a));
    const std::vector<int64_t> surplus = Surpluses(a);
    for (size_t b = 0; b < a.buyers.size(); ++b) s.surplus[a.buyers[b].name] += surplus[b];
  }
  return s;
}

}  // namespace market
