// The simulated rival buyers as a plan holds them, and the bidder object each one plays by.
#ifndef ENGINE_RIVALS_H_
#define ENGINE_RIVALS_H_

#include <memory>
#include <string>

#include "engine/scenario.h"
#include "engine/strategies/bidder.h"
#include "engine/values.h"

namespace market {

struct Rival {
  std::string name;
  Strategy strategy = Strategy::kValue;
  ValueRule value;  // how its value for each good is drawn
  int margin = 20;  // kCautious
  int shade = 10;   // kAdaptive: starting shading, percent
  int learning_rate = 2;
};

// A fresh bidder playing the rival's strategy with its parameters.
std::unique_ptr<Bidder> MakeBidder(const Rival& rival);

}  // namespace market

#endif  // ENGINE_RIVALS_H_
