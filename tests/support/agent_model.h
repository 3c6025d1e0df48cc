// A copy of the buyer agent's bookkeeping and bidding rule, kept outside the agent so that tests
// and benchmarks can say, message by message, when the agent bids: its credit in each auction,
// its table of each auction's goods (as large as the agent's own), the good under the hammer and
// the price offered. The benchmark smoke test checks the real agent against it.
#ifndef TESTS_SUPPORT_AGENT_MODEL_H_
#define TESTS_SUPPORT_AGENT_MODEL_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "buyer/market/tables.h"

namespace test_support {

class AgentModel {
 public:
  AgentModel();

  // Takes one message the agent receives (one line, no newline); true when the agent answers it
  // with "bid". Lines it does not know leave the state as it was.
  bool Receive(std::string_view line);

  // True while the agent's last bid stands: it bid, and no sale, collision or end has cleared it.
  bool BidStands() const { return i_bid_; }

 private:
  struct Slot {
    std::string id;
    int32_t initial = 0;
    int32_t resale = 0;
  };

  bool HasRow() const { return auction_ >= 0 && auction_ < MAX_AUCTIONS; }
  size_t Index() const { return static_cast<size_t>(auction_); }
  void ClearGood();
  void Apply(std::string_view line);

  int32_t auction_ = 0;
  int32_t good_ = 0;
  int32_t price_ = 0;
  bool i_bid_ = false;
  bool i_can_bid_ = false;
  std::array<int32_t, MAX_AUCTIONS> credit_;
  std::array<int32_t, MAX_AUCTIONS> count_;
  std::array<std::array<Slot, MAX_GOODS>, MAX_AUCTIONS> slots_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_AGENT_MODEL_H_
