#include "tournament/db/packed_session.h"

#include <utility>

#include "tournament/db/session_codec.h"

namespace tournament {

void KeepFigures(const std::vector<ParticipantRow>& rows, std::vector<EntryFigures>& out) {
  out.resize(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const ParticipantRow& x = rows[i];
    EntryFigures& f = out[i];
    f.name = x.name;
    f.kind = x.kind;
    f.strategy = x.strategy;
    f.surplus = x.surplus;
    f.purchases = x.purchases;
    f.spend = x.spend;
    f.sanctions = x.sanctions;
    f.expulsions = x.expulsions;
    f.status = x.status;
    f.dropped = !x.dropped.empty();
    f.late_ticks = x.late_ticks;
  }
}

PackedSession Pack(SessionRecord record) {
  PackedSession packed;
  packed.participants = EncodeEntries(record.participants);
  KeepFigures(record.participants, packed.entries);
  GoodsEncoder goods;
  for (const GoodRow& x : record.goods) {
    packed.plan.push_back(
        {x.auction, x.id, x.kind, x.seller, x.round, x.initial, x.resale, x.reserve});
    goods.Add(x.outcome, x.buyer.value_or(""), x.price, x.collisions, x.sanctions);
    for (const auto& [buyer, value] : x.values) goods.Value(buyer, value);
    packed.goods_sold += x.outcome == "sold" ? 1 : 0;
  }
  packed.goods = goods.Take();
  packed.goods_total = static_cast<int64_t>(record.goods.size());
  record.participants = {};
  record.goods = {};
  packed.record = std::move(record);
  return packed;
}

}  // namespace tournament
