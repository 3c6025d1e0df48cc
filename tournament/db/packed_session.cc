#include "tournament/db/packed_session.h"

#include <utility>

#include "tournament/db/json_text.h"

namespace tournament {
namespace {

// The session's goods as the good view reads them, one array each, the values as an object.
std::string PackGoods(const std::vector<GoodRow>& rows) {
  JsonText out;
  out.OpenArray();
  for (const GoodRow& x : rows) {
    out.OpenArray().Int(x.auction).String(x.id).String(x.kind).String(x.seller).Int(x.round);
    out.Int(x.initial).Int(x.resale).Int(x.reserve).String(x.outcome).Maybe(x.buyer);
    out.Maybe(x.price).Int(x.collisions).Int(x.sanctions).OpenObject();
    for (const auto& [buyer, value] : x.values) out.Key(buyer).Int(value);
    out.CloseObject().CloseArray();
  }
  out.CloseArray();
  return out.Take();
}

}  // namespace

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
  }
}

// The session's lineup entries as the participant view reads them, one array each.
std::string PackParticipants(const std::vector<ParticipantRow>& rows, std::string buffer) {
  JsonText out(std::move(buffer));
  out.OpenArray();
  for (const ParticipantRow& x : rows) {
    out.OpenArray().String(x.name).String(x.kind).String(x.strategy).Int(x.purchases);
    out.Int(x.spend).Int(x.benefit).Int(x.fines).Int(x.surplus).Int(x.sanctions);
    out.Int(x.expulsions).Bool(x.logged_in).Int(x.bids).Int(x.faults).Bool(x.left);
    out.String(x.dropped).Int(x.response_count).Maybe(x.response_median_us);
    out.Maybe(x.response_p99_us).String(x.status).Maybe(x.exit_code).Maybe(x.exit_signal);
    out.String(x.stderr_tail).CloseArray();
  }
  out.CloseArray();
  return out.Take();
}

PackedSession Pack(SessionRecord record) {
  PackedSession packed;
  packed.participants = PackParticipants(record.participants);
  KeepFigures(record.participants, packed.entries);
  packed.goods = PackGoods(record.goods);
  packed.goods_total = static_cast<int64_t>(record.goods.size());
  for (const GoodRow& g : record.goods) packed.goods_sold += g.outcome == "sold" ? 1 : 0;
  record.participants = {};
  record.goods = {};
  packed.record = std::move(record);
  return packed;
}

}  // namespace tournament
