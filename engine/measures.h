// Market measures, computed from the results alone (every figure can be recomputed from the
// results JSON): per good, per auction and per session.
//
// - revenue: the sum of the prices of the goods sold;
// - a buyer's surplus: the sum of its values of the goods it bought less their prices, less its
//   fines;
// - allocative efficiency: the winners' values over the highest values present, summed over the
//   goods that count (sold, or unsold while some buyer valued it at or above its reserve, which
//   adds its highest value to the denominator only);
// - top-value share: of the goods sold, the share bought by a buyer whose value was the highest;
// - price over top value: the mean over the goods sold of the price over the highest value.
#ifndef ENGINE_MEASURES_H_
#define ENGINE_MEASURES_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/results.h"

namespace market {

struct GoodMeasures {
  int64_t top_value = 0;                 // the highest value present (0 when none was recorded)
  std::optional<int64_t> winner_value;   // sold only
  bool counts = false;                   // in the efficiency: sold, or lost while worth the reserve
  bool won_by_top = false;               // sold to a buyer whose value was the highest
  std::optional<double> price_over_top;  // sold with a top value above 0
};

// Sums over a set of goods; the ratios are empty when nothing counts.
struct MarketMeasures {
  int64_t goods = 0;
  int64_t sold = 0;
  int64_t revenue = 0;
  int64_t winner_values = 0;  // over the goods that count
  int64_t top_values = 0;     // over the goods that count
  int64_t won_by_top = 0;
  double price_over_top_sum = 0;
  int64_t price_over_top_count = 0;

  void Add(const GoodResult& good, const GoodMeasures& m);
  void Add(const MarketMeasures& other);
  std::optional<double> efficiency() const;
  std::optional<double> top_value_share() const;
  std::optional<double> price_over_top() const;
};

// A good of an auction whose buyers are `buyers` (the values name their buyers by index into it).
GoodMeasures MeasureGood(const GoodResult& good, const std::vector<BuyerResult>& buyers);

// Per buyer of the auction, in its buyers order: value of purchases less prices, less fines.
std::vector<int64_t> Surpluses(const AuctionResult& auction);

MarketMeasures MeasureAuction(const AuctionResult& auction);

struct SessionMeasures {
  MarketMeasures market;
  std::map<std::string, int64_t> surplus;  // per buyer name, over every auction it was in
};

SessionMeasures MeasureSession(const Results& results);

}  // namespace market

#endif  // ENGINE_MEASURES_H_
