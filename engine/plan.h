// A scenario made concrete for one seed: every rival by name, every auction's goods with their
// prices and rounds. The engine runs a plan; nothing in it changes while the session runs.
#ifndef ENGINE_PLAN_H_
#define ENGINE_PLAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/good.h"
#include "engine/rivals.h"
#include "engine/scenario.h"

namespace market {

struct AuctionPlan {
  int number = 1;  // 1-based, as announced
  int rounds = 1;
  int64_t price_step = 100;
  std::vector<size_t> rivals;  // indices into SessionPlan::rivals, in plan order
  std::vector<Good> goods;     // in the order they come under the hammer within each round
};

struct SessionPlan {
  uint64_t seed = 0;
  std::vector<Rival> rivals;
  std::vector<AuctionPlan> auctions;
};

// The lowest price a good's clock offers at this step: the last one at or above the reserve on its
// way down from the initial price. A bidder can buy at no lower price, so this is the reserve the
// rivals' rules reason with. (A collision's rise may put later offers on other prices; none
// below the reserve.)
int64_t LowestOffer(const Good& good, int64_t price_step);

// Expands a loaded scenario with the given seed: numbered rival groups become single rivals,
// generated goods are drawn, and goods without a round are spread over the auction's rounds in
// order (the first goods in round 1). The same scenario and seed give the same plan.
SessionPlan BuildPlan(const Scenario& scenario, uint64_t seed);

}  // namespace market

#endif  // ENGINE_PLAN_H_
