// A good's tick bids (results.h), kept packed as they are recorded: one row per run of bids with
// the same time and price (a tick's rivals share one row; a participant's bid has its own), and
// each row's buyers as packed numbers (packed_numbers.h), the first buyer's index as it stands and
// each next one as its difference from the one before. Bids of one tick come in buyers-list
// order, so the differences are small: about a byte a bid, where a plain record takes 16. A good
// offered again after many voided sales, each tick bid on by a crowd, may hold millions of them.
// The rows are the results file's "tick_bids_packed" rows as they stand.
#ifndef ENGINE_TICK_BIDS_H_
#define ENGINE_TICK_BIDS_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace market {

// A bid that took part in deciding a tick, from any buyer present: a participant's first bid of
// the tick, or a rival's decision to bid. The bids of one tick are in buyers-list order.
struct TickBid {
  int64_t at_us = 0;  // a participant's: when it arrived; a rival's: when the tick was decided
  // The price in force: 32 bits hold every price a scenario lets the market announce (kMaxPrice).
  int32_t price = 0;
  uint32_t buyer = 0;  // index into the auction's buyers (AuctionResult::buyers)
  bool operator==(const TickBid&) const = default;
};

class TickBids {
 public:
  struct Row {
    int64_t at_us = 0;
    int32_t price = 0;
    // Where the row's packed buyers end in the good's text (they start where the row before
    // ends). 32 bits: a good has at most about 10^8 tick bids (its offers, collisions and voided
    // sales, each bid on by at most 1,000 buyers), of at most 3 characters each.
    uint32_t end = 0;
  };

  TickBids() = default;
  TickBids(std::initializer_list<TickBid> bids);

  // Records the next bid: in the last row when it has the bid's time and price, else in a new one.
  void Add(const TickBid& bid);

  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }  // bids
  const std::vector<Row>& rows() const { return rows_; }
  // Row `row`'s buyers, packed.
  std::string_view buyers(size_t row) const;
  // Every bid, in the order recorded.
  std::vector<TickBid> Unpacked() const;
  // Bytes held, and bytes reserved, by the rows and their packed buyers.
  size_t bytes() const { return rows_.size() * sizeof(Row) + text_.size(); }
  size_t capacity_bytes() const { return rows_.capacity() * sizeof(Row) + text_.capacity(); }
  // Gives back the room reserved beyond `slack` bytes in each part.
  void Trim(size_t slack);

 private:
  std::vector<Row> rows_;
  std::string text_;  // every row's packed buyers, one after the other
  uint32_t last_buyer_ = 0;
  size_t count_ = 0;
};

}  // namespace market

#endif  // ENGINE_TICK_BIDS_H_
