#include "sim/batch.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace market::sim {

void Batch::Add(const Results& results) {
  ++sessions_;
  for (const AuctionResult& auction : results.auctions) {
    for (const GoodResult& good : auction.goods) {
      if (good.outcome == Outcome::kPending) continue;
      ++goods_;
      const double revenue = good.outcome == Outcome::kSold ? static_cast<double>(good.price) : 0;
      revenue_sum_ += revenue;
      revenue_squares_ += revenue * revenue;
    }
    market_.Add(MeasureAuction(auction));
    const std::vector<int64_t> surplus = Surpluses(auction);
    for (size_t b = 0; b < auction.buyers.size(); ++b) {
      auto& [sum, count] = surplus_[auction.buyers[b].strategy];
      sum += static_cast<double>(surplus[b]);
      ++count;
    }
  }
}

double Batch::mean_revenue() const {
  return goods_ > 0 ? revenue_sum_ / static_cast<double>(goods_) : 0;
}

double Batch::revenue_standard_error() const {
  if (goods_ < 2) return 0;
  const double n = static_cast<double>(goods_);
  const double mean = revenue_sum_ / n;
  const double variance = std::max(0.0, (revenue_squares_ - n * mean * mean) / (n - 1));
  return std::sqrt(variance / n);
}

std::map<std::string, double> Batch::surplus_by_strategy() const {
  std::map<std::string, double> mean;
  for (const auto& [name, figures] : surplus_) {
    mean[name] = figures.second > 0 ? figures.first / static_cast<double>(figures.second) : 0;
  }
  return mean;
}

namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ratio(const std::optional<double>& value) { return value ? Fixed(*value, 4) : "-"; }

}  // namespace

std::string Batch::Text() const {
  std::string text =
      "goods decided " + std::to_string(goods_) + ", sold " + std::to_string(market_.sold) + "\n";
  text += "revenue per good " + Fixed(mean_revenue(), 2) + " (standard error " +
          Fixed(revenue_standard_error(), 2) + ")\n";
  text += "efficiency " + Ratio(market_.efficiency()) + ", won by the top value " +
          Ratio(market_.top_value_share()) + ", price / top value " +
          Ratio(market_.price_over_top()) + "\n";
  text += "mean surplus per buyer and auction:";
  for (const auto& [name, surplus] : surplus_by_strategy()) {
    text += " " + (name.empty() ? std::string("?") : name) + " " + Fixed(surplus, 1);
  }
  return text + "\n";
}

}  // namespace market::sim
