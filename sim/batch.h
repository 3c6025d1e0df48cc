// Figures over many sessions of one scenario: the market measures summed, the mean revenue per
// good with its standard error, and each strategy's mean surplus per auction.
#ifndef SIM_BATCH_H_
#define SIM_BATCH_H_

#include <cstdint>
#include <map>
#include <string>

#include "engine/measures.h"
#include "engine/results.h"

namespace market::sim {

class Batch {
 public:
  void Add(const Results& results);

  int64_t sessions() const { return sessions_; }
  // Goods decided (sold or left unsold); a good the session never reached does not count.
  int64_t goods() const { return goods_; }
  const MarketMeasures& market() const { return market_; }
  // Revenue per good decided, an unsold good counting 0, and the standard error of that mean.
  double mean_revenue() const;
  double revenue_standard_error() const;
  // Per strategy name ("agent" for a participant): mean surplus per buyer and auction.
  std::map<std::string, double> surplus_by_strategy() const;

  // The figures in a few lines of text.
  std::string Text() const;

 private:
  int64_t sessions_ = 0;
  int64_t goods_ = 0;
  double revenue_sum_ = 0;
  double revenue_squares_ = 0;
  MarketMeasures market_;
  std::map<std::string, std::pair<double, int64_t>> surplus_;  // sum, buyer-auctions
};

}  // namespace market::sim

#endif  // SIM_BATCH_H_
