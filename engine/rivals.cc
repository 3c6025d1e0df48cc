#include "engine/rivals.h"

#include "engine/strategies/adaptive.h"
#include "engine/strategies/careless.h"
#include "engine/strategies/cautious.h"
#include "engine/strategies/equilibrium.h"
#include "engine/strategies/truthful.h"
#include "engine/strategies/zero_intelligence.h"

namespace market {

std::unique_ptr<Bidder> MakeBidder(const Rival& rival) {
  switch (rival.strategy) {
    case Strategy::kValue:
      return std::make_unique<TruthfulBidder>("value");
    case Strategy::kTruthful:
      return std::make_unique<TruthfulBidder>("truthful");
    case Strategy::kCautious:
      return std::make_unique<CautiousBidder>(rival.margin);
    case Strategy::kCareless:
      return std::make_unique<CarelessBidder>();
    case Strategy::kEquilibrium:
      return std::make_unique<EquilibriumBidder>();
    case Strategy::kZeroIntelligence:
      return std::make_unique<ZeroIntelligenceBidder>();
    case Strategy::kAdaptive:
      return std::make_unique<AdaptiveBidder>(rival.shade, rival.learning_rate);
  }
  return std::make_unique<TruthfulBidder>("value");
}

}  // namespace market
