// A good put up for sale: what the market announces about it, its lowest price and its round.
// The same type runs from the scenario's entries through the plan to the results.
#ifndef ENGINE_GOOD_H_
#define ENGINE_GOOD_H_

#include <cstdint>
#include <string>

namespace market {

struct Good {
  std::string id;  // unique within its auction
  std::string kind;
  std::string seller;
  int64_t initial = 0;  // first price offered
  int64_t resale = 0;   // what the good is worth to a buyer after the auction
  int64_t reserve = 0;  // the lowest price offered; below it the good leaves the market
  int round = 1;        // 1-based; in a scenario entry 0: spread over the rounds with the others
};

}  // namespace market

#endif  // ENGINE_GOOD_H_
