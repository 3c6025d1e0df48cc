// A session record as the database stores it (store.h): the session row's own columns, its
// lineup entries and goods packed as bytes (session_codec.h), the goods' plan (kept once per
// scenario) and its bids. Packing runs on the worker that played the session, before the session
// joins a batch for the database.
#ifndef TOURNAMENT_PACKED_SESSION_H_
#define TOURNAMENT_PACKED_SESSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tournament/file/session_record.h"

namespace tournament {

// What one lineup entry adds to its running totals (totals.h).
struct EntryFigures {
  std::string name, kind, strategy;
  int64_t surplus = 0, purchases = 0, spend = 0, sanctions = 0, expulsions = 0;
  std::string status;
  bool dropped = false;
  std::optional<int64_t> late_ticks;
};

// A good as the scenario plans it: the same in every session of the scenario.
struct GoodPlan {
  int auction = 0;
  std::string id, kind, seller;
  int round = 0;
  int64_t initial = 0, resale = 0, reserve = 0;
  bool operator==(const GoodPlan&) const = default;
};

struct PackedSession {
  SessionRecord record;        // its goods and participants moved into the columns below
  std::string participants;    // the session.participants column
  std::string goods;           // the session.goods column
  std::string scratch;         // the goods encoder's working memory, kept for the next session
  std::vector<GoodPlan> plan;  // the session's goods as planned, in the goods column's order
  int64_t goods_total = 0;
  int64_t goods_sold = 0;
  std::vector<EntryFigures> entries;  // in lineup order
};

// Packs the record's participants and goods, leaving its vectors empty.
PackedSession Pack(SessionRecord record);

// The rows' figures for the running totals, written into `out` (its memory reused).
void KeepFigures(const std::vector<ParticipantRow>& rows, std::vector<EntryFigures>& out);

}  // namespace tournament

#endif  // TOURNAMENT_PACKED_SESSION_H_
