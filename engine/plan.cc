#include "engine/plan.h"

#include <algorithm>

#include "engine/rng.h"

namespace market {
namespace {

// Streams of the seed, so that goods drawn never depend on how many rivals there are and so on.
constexpr uint64_t kGoodsStream = 1;

Good GenerateGood(const GeneratorEntry& entry, uint64_t seed, int auction, int index) {
  Rng rng(DeriveSeed(seed,
                     {kGoodsStream, static_cast<uint64_t>(auction), static_cast<uint64_t>(index)}));
  Good good;
  good.id = GeneratedGoodId(auction, index);
  good.kind = entry.kinds[rng.Below(entry.kinds.size())];
  good.seller = entry.sellers[rng.Below(entry.sellers.size())];
  // Round prices to tens where the range allows it: easier to read in a log.
  good.initial = rng.Between(entry.initial_low, entry.initial_high);
  if (good.initial >= 10 && (good.initial / 10) * 10 >= entry.initial_low) {
    good.initial = (good.initial / 10) * 10;
  }
  good.resale = good.initial * rng.Between(entry.resale_low, entry.resale_high) / 100;
  good.reserve = good.initial * rng.Between(entry.reserve_low, entry.reserve_high) / 100;
  good.round = 0;
  return good;
}

}  // namespace

int64_t LowestOffer(const Good& good, int64_t price_step) {
  return good.initial - (good.initial - good.reserve) / price_step * price_step;
}

SessionPlan BuildPlan(const Scenario& scenario, uint64_t seed) {
  SessionPlan plan;
  plan.seed = seed;
  std::vector<std::vector<size_t>> rivals_of_entry;
  for (const RivalEntry& entry : scenario.rivals) {
    rivals_of_entry.emplace_back();
    for (const std::string& name : RivalNames(entry)) {
      rivals_of_entry.back().push_back(plan.rivals.size());
      plan.rivals.push_back(
          {name, entry.strategy, entry.value, entry.margin, entry.shade, entry.learning_rate});
    }
  }
  for (size_t a = 0; a < scenario.auctions.size(); ++a) {
    const AuctionEntry& entry = scenario.auctions[a];
    AuctionPlan auction;
    auction.number = static_cast<int>(a) + 1;
    auction.rounds = entry.rounds;
    auction.price_step = entry.price_step.value_or(scenario.price_step);
    for (size_t s = 0; s < scenario.rivals.size(); ++s) {
      const bool present =
          !entry.rivals || std::find(entry.rivals->begin(), entry.rivals->end(),
                                     scenario.rivals[s].name) != entry.rivals->end();
      if (present) {
        auction.rivals.insert(auction.rivals.end(), rivals_of_entry[s].begin(),
                              rivals_of_entry[s].end());
      }
    }
    std::sort(auction.rivals.begin(), auction.rivals.end());
    auction.goods = entry.goods;
    for (int i = 1; i <= entry.generated_goods; ++i) {
      auction.goods.push_back(GenerateGood(scenario.generator, seed, auction.number, i));
    }
    // Goods without a round: the k-th of n goes to round 1 + k * rounds / n.
    const auto unassigned = static_cast<size_t>(std::count_if(
        auction.goods.begin(), auction.goods.end(), [](const Good& g) { return g.round == 0; }));
    size_t k = 0;
    for (Good& good : auction.goods) {
      if (good.round != 0) continue;
      good.round = 1 + static_cast<int>(k * static_cast<size_t>(auction.rounds) / unassigned);
      ++k;
    }
    // Within a round, goods keep their listed order.
    std::stable_sort(auction.goods.begin(), auction.goods.end(),
                     [](const Good& x, const Good& y) { return x.round < y.round; });
    plan.auctions.push_back(std::move(auction));
  }
  return plan;
}

}  // namespace market
