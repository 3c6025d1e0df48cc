// Feeds arbitrary text to the scenario loader; a scenario it accepts is planned as the gateway
// would plan it, so every accepted value must also be usable, and every good planned, listed or
// drawn by the generator, must keep its clock within the loader's bound.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/plan.h"
#include "engine/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  market::ScenarioLoad load = market::ParseScenario(text, "fuzz.toml");
  if (load.scenario) {
    const market::SessionPlan plan = market::BuildPlan(*load.scenario, load.scenario->seed);
    for (const market::AuctionPlan& auction : plan.auctions) {
      for (const market::Good& good : auction.goods) {
        if (market::MostOffers(good.initial, good.reserve, auction.price_step, *load.scenario) >
            market::kMaxOffersPerGood) {
          __builtin_trap();  // the loader let through a clock the results could not hold
        }
      }
    }
  } else if (load.error.ToString().find('\n') != std::string::npos) {
    __builtin_trap();  // an error must stay one line
  }
  return 0;
}
