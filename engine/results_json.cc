#include "engine/results_json.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "engine/measures.h"
#include "engine/packed_numbers.h"
#include "engine/response_stats.h"

namespace market {
namespace {

using Json = nlohmann::ordered_json;

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPending:
      return "pending";
    case Outcome::kSold:
      return "sold";
    case Outcome::kUnsold:
      return "unsold";
    case Outcome::kInterrupted:
      return "interrupted";
  }
  return "pending";
}

Json Optional(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

// [[at_us, price, "offer" | "collision"], ...]
Json ClockJson(const std::vector<ClockStep>& clock) {
  Json steps = Json::array();
  for (const ClockStep& step : clock) {
    steps.push_back(
        {step.at_us, step.price, step.kind == ClockStep::Kind::kOffer ? "offer" : "collision"});
  }
  return steps;
}

// The tick bids, each run of bids sharing a time and a price (a tick's rivals, decided together;
// a participant's own) as one row [at_us, price, buyers]: the buyers' indices packed, the first
// as it stands and each next one as its difference from the one before.
Json TickBidsJson(const TickBids& bids) {
  Json out = Json::array();
  for (size_t r = 0; r < bids.rows().size(); ++r) {
    const TickBids::Row& row = bids.rows()[r];
    out.push_back({row.at_us, row.price, bids.buyers(r)});
  }
  return out;
}

// The values' buyers as runs of consecutive indices [[first, count], ...] (one run when every
// buyer was present), and the values in that order, packed.
std::pair<Json, std::string> ValuesJson(const std::vector<BuyerValue>& values) {
  Json runs = Json::array();
  std::string packed;
  for (size_t i = 0; i < values.size();) {
    const uint32_t first = values[i].buyer;
    size_t count = 0;
    for (; i < values.size() && values[i].buyer == first + count; ++i, ++count) {
      AppendPacked(values[i].value, packed);
    }
    runs.push_back({first, count});
  }
  return {std::move(runs), std::move(packed)};
}

Json GoodJson(const GoodResult& result, const std::vector<BuyerResult>& buyers) {
  const Good& g = result.good;
  const bool sold = result.outcome == Outcome::kSold;
  auto [value_buyers, values] = ValuesJson(result.values);
  const GoodMeasures m = MeasureGood(result, buyers);
  return {{"id", g.id},
          {"kind", g.kind},
          {"seller", g.seller},
          {"round", g.round},
          {"initial", g.initial},
          {"resale", g.resale},
          {"reserve", g.reserve},
          {"outcome", OutcomeName(result.outcome)},
          {"buyer", sold ? Json(result.buyer) : Json(nullptr)},
          {"price", sold ? Json(result.price) : Json(nullptr)},
          {"collisions", result.collisions},
          {"sanctions", result.sanctions},
          {"value_buyers", std::move(value_buyers)},
          {"values_packed", std::move(values)},
          {"top_value", m.top_value},
          {"winner_value", m.winner_value ? Json(*m.winner_value) : Json(nullptr)},
          {"won_by_top_value", sold ? Json(m.won_by_top) : Json(nullptr)},
          {"price_over_top_value", Optional(m.price_over_top)},
          {"ended_us", result.ended_us ? Json(*result.ended_us) : Json(nullptr)},
          {"clock", ClockJson(result.clock)},
          {"tick_bids_packed", TickBidsJson(result.tick_bids)}};
}

Json MeasuresJson(const MarketMeasures& m) {
  return {{"goods", m.goods},
          {"sold", m.sold},
          {"revenue", m.revenue},
          {"efficiency", Optional(m.efficiency())},
          {"top_value_share", Optional(m.top_value_share())},
          {"price_over_top_value", Optional(m.price_over_top())}};
}

Json BuyerJson(const BuyerResult& b, int64_t surplus) {
  return {{"name", b.name},           {"participant", b.participant},
          {"purchases", b.purchases}, {"spend", b.spend},
          {"benefit", b.benefit},     {"sanctions", b.sanctions},
          {"fines", b.fines},         {"expelled", b.expelled},
          {"left", b.left},           {"strategy", b.strategy},
          {"surplus", surplus}};
}

Json BuyersJson(const AuctionResult& auction) {
  Json buyers = Json::array();
  const std::vector<int64_t> surplus = Surpluses(auction);
  for (size_t b = 0; b < auction.buyers.size(); ++b) {
    buyers.push_back(BuyerJson(auction.buyers[b], surplus[b]));
  }
  return buyers;
}

Json AuctionJson(const AuctionResult& auction) {
  Json goods = Json::array();
  for (const GoodResult& g : auction.goods) goods.push_back(GoodJson(g, auction.buyers));
  return {{"number", auction.number},
          {"rounds", auction.rounds},
          {"goods", std::move(goods)},
          {"buyers", BuyersJson(auction)},
          {"measures", MeasuresJson(MeasureAuction(auction))}};
}

Json ParticipantJson(const ParticipantResult& p, const std::vector<BidRecord>& bids, bool stepped) {
  const ResponseStats stats = ResponseTimes(bids, p.login);
  const bool any = stats.count > 0;
  return {{"login", p.login},
          {"bids", p.bids},
          {"faults", p.faults},
          {"left", p.left},
          {"dropped", p.dropped.empty() ? Json(nullptr) : Json(p.dropped)},
          {"late_ticks", stepped ? Json(p.late_ticks) : Json(nullptr)},
          {"response_us",
           {{"count", stats.count},
            {"median", any ? Json(stats.median_us) : Json(nullptr)},
            {"p99", any ? Json(stats.p99_us) : Json(nullptr)}}}};
}

Json BidJson(const BidRecord& b) {
  return {{"auction", b.auction}, {"good", b.good},   {"price", b.price},
          {"buyer", b.buyer},     {"at_us", b.at_us}, {"response_us", b.response_us},
          {"counted", b.counted}};
}

Json IgnoredJson(const std::vector<IgnoredLine>& lines) {
  Json ignored = Json::array();
  for (const IgnoredLine& line : lines) {
    ignored.push_back({{"from", line.from}, {"line", line.line}, {"reason", line.reason}});
  }
  return ignored;
}

Json ParticipantsJson(const Results& results) {
  Json participants = Json::array();
  for (const ParticipantResult& p : results.participants) {
    participants.push_back(ParticipantJson(p, results.bids, results.clock == "stepped"));
  }
  return participants;
}

Json DroppedJson(const std::vector<DroppedConnection>& connections) {
  Json dropped = Json::array();
  for (const DroppedConnection& d : connections) {
    dropped.push_back({{"from", d.from}, {"reason", d.reason}});
  }
  return dropped;
}

Json SessionMeasuresJson(const Results& results) {
  const SessionMeasures session = MeasureSession(results);
  Json measures = MeasuresJson(session.market);
  measures["surplus"] = Json::object();
  for (const auto& [name, surplus] : session.surplus) measures["surplus"][name] = surplus;
  return measures;
}

Json FailedLoginsJson(const std::vector<FailedLogin>& logins) {
  Json failed = Json::array();
  for (const FailedLogin& f : logins) {
    failed.push_back(
        {{"login", f.login}, {"peer", f.peer}, {"at_us", f.at_us}, {"reason", f.reason}});
  }
  return failed;
}

Json SessionClock(const Results& results) {
  return results.clock.empty() ? Json(nullptr) : Json(results.clock);
}

Json EndedEarly(const Results& results) {
  return results.completed ? Json(nullptr) : Json(results.ended_early);
}

// The whole document in memory: the reference the streamed writer below is held to.
Json Document(const Results& results) {
  Json auctions = Json::array();
  for (const AuctionResult& a : results.auctions) auctions.push_back(AuctionJson(a));
  Json bids = Json::array();
  for (const BidRecord& b : results.bids) bids.push_back(BidJson(b));
  return {{"format", kResultsFormat},
          {"seed", results.seed},
          {"session_clock", SessionClock(results)},
          {"auctions_planned", results.auctions_planned},
          {"completed", results.completed},
          {"ended_early", EndedEarly(results)},
          {"auctions", std::move(auctions)},
          {"measures", SessionMeasuresJson(results)},
          {"ignored_total", results.ignored_total},
          {"ignored", IgnoredJson(results.ignored)},
          {"participants", ParticipantsJson(results)},
          {"bids", std::move(bids)},
          {"dropped_total", results.dropped_total},
          {"dropped", DroppedJson(results.dropped)},
          {"failed_logins_total", results.failed_logins_total},
          {"failed_logins", FailedLoginsJson(results.failed_logins)}};
}

// A scalar, or a value written on one line: strings that are not UTF-8 get U+FFFD, never an
// exception.
std::string Flat(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Lists of plain rows within a record (a good's clock): written in their record's line.
bool RowList(std::string_view key) {
  return key == "clock" || key == "tick_bids_packed" || key == "value_buyers";
}

// Whether the value holds an array (other than a row list): such values take several lines, one
// element per line.
bool HoldsArray(const Json& value) {
  if (value.is_array()) return true;
  if (!value.is_object()) return false;
  for (const auto& [key, item] : value.items()) {
    if (!RowList(key) && HoldsArray(item)) return true;
  }
  return false;
}

// The layout: values that hold arrays over several lines, indented by two spaces a level; every
// other value (a record such as one good or one bid) on one line, as {"key": value, ...}.
void Write(const Json& value, size_t indent, std::string& out) {
  const bool object = value.is_object();
  if (!HoldsArray(value) || value.empty()) {
    if (!object || value.empty()) {
      out += Flat(value);
      return;
    }
    out += '{';
    bool first = true;
    for (const auto& [key, item] : value.items()) {
      out += first ? "" : ", ";
      first = false;
      out += Flat(Json(key)) + ": ";
      if (item.is_object()) {
        Write(item, indent, out);
      } else {
        out += Flat(item);  // a scalar, or a row list
      }
    }
    out += '}';
    return;
  }
  const std::string inner(indent + 2, ' ');
  out += object ? '{' : '[';
  bool first = true;
  for (const auto& [key, item] : value.items()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += inner;
    if (object) out += Flat(Json(key)) + ": ";
    Write(item, indent + 2, out);
  }
  out += "\n" + std::string(indent, ' ') + (object ? '}' : ']');
}

// Writes the document piece by piece in either layout, building one record (a good, a bid) at a
// time and handing the text on in chunks: the same bytes as laying out the whole document, in
// memory that follows the largest record, not the session.
class Stream {
 public:
  Stream(bool one_line, const ResultsSink& sink) : one_line_(one_line), sink_(sink) {}
  ~Stream() { Flush(); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  void Flush() {
    if (!out_.empty()) sink_(out_);
    out_.clear();
  }

  // A value written whole, starting on a line indented by `indent`.
  void Value(const Json& value, size_t indent) {
    if (one_line_) {
      out_ += Flat(value);
    } else {
      Write(value, indent, out_);
    }
    if (out_.size() >= kChunk) Flush();
  }

  // Objects and arrays that hold arrays, opened, filled and closed in order; `first` tells
  // whether an item is the first of its container.
  void Open(char bracket) { out_ += bracket; }
  void EndLine() { out_ += '\n'; }
  void Key(std::string_view key, bool first, size_t indent) {
    Item(first, indent);
    out_ += Flat(Json(key));
    out_ += one_line_ ? ":" : ": ";
  }
  void Item(bool first, size_t indent) {
    if (one_line_) {
      if (!first) out_ += ',';
      return;
    }
    out_ += first ? "\n" : ",\n";
    out_.append(indent + 2, ' ');
  }
  void Close(char bracket, size_t indent) {
    if (!one_line_) {
      out_ += '\n';
      out_.append(indent, ' ');
    }
    out_ += bracket;
  }

  // An array of `count` records, each built by at(i) when its turn comes.
  template <typename At>
  void Array(size_t count, size_t indent, At at) {
    if (count == 0) {
      out_ += "[]";
      return;
    }
    Open('[');
    for (size_t i = 0; i < count; ++i) {
      Item(i == 0, indent);
      Value(at(i), indent + 2);
    }
    Close(']', indent);
  }

 private:
  static constexpr size_t kChunk = 1 << 16;
  bool one_line_;
  const ResultsSink& sink_;
  std::string out_;
};

void StreamAuction(const AuctionResult& auction, size_t indent, Stream& out) {
  out.Open('{');
  out.Key("number", true, indent);
  out.Value(auction.number, indent + 2);
  out.Key("rounds", false, indent);
  out.Value(auction.rounds, indent + 2);
  out.Key("goods", false, indent);
  out.Array(auction.goods.size(), indent + 2,
            [&](size_t g) { return GoodJson(auction.goods[g], auction.buyers); });
  out.Key("buyers", false, indent);
  out.Value(BuyersJson(auction), indent + 2);
  out.Key("measures", false, indent);
  out.Value(MeasuresJson(MeasureAuction(auction)), indent + 2);
  out.Close('}', indent);
}

void StreamDocument(const Results& results, bool one_line, const ResultsSink& sink) {
  Stream out(one_line, sink);
  const size_t indent = 0;
  const size_t inner = indent + 2;
  out.Open('{');
  out.Key("format", true, indent);
  out.Value(kResultsFormat, inner);
  out.Key("seed", false, indent);
  out.Value(results.seed, inner);
  out.Key("session_clock", false, indent);
  out.Value(SessionClock(results), inner);
  out.Key("auctions_planned", false, indent);
  out.Value(results.auctions_planned, inner);
  out.Key("completed", false, indent);
  out.Value(results.completed, inner);
  out.Key("ended_early", false, indent);
  out.Value(EndedEarly(results), inner);
  out.Key("auctions", false, indent);
  if (results.auctions.empty()) {
    out.Value(Json::array(), inner);
  } else {
    out.Open('[');
    for (size_t a = 0; a < results.auctions.size(); ++a) {
      out.Item(a == 0, inner);
      StreamAuction(results.auctions[a], inner + 2, out);
    }
    out.Close(']', inner);
  }
  out.Key("measures", false, indent);
  out.Value(SessionMeasuresJson(results), inner);
  out.Key("ignored_total", false, indent);
  out.Value(results.ignored_total, inner);
  out.Key("ignored", false, indent);
  out.Value(IgnoredJson(results.ignored), inner);
  out.Key("participants", false, indent);
  out.Value(ParticipantsJson(results), inner);
  out.Key("bids", false, indent);
  out.Array(results.bids.size(), inner, [&](size_t b) { return BidJson(results.bids[b]); });
  out.Key("dropped_total", false, indent);
  out.Value(results.dropped_total, inner);
  out.Key("dropped", false, indent);
  out.Value(DroppedJson(results.dropped), inner);
  out.Key("failed_logins_total", false, indent);
  out.Value(results.failed_logins_total, inner);
  out.Key("failed_logins", false, indent);
  out.Value(FailedLoginsJson(results.failed_logins), inner);
  out.Close('}', indent);
  out.EndLine();
}

}  // namespace

void WriteResultsJson(const Results& results, const ResultsSink& sink) {
  StreamDocument(results, false, sink);
}

void WriteResultsJsonLine(const Results& results, const ResultsSink& sink) {
  StreamDocument(results, true, sink);
}

std::string ResultsJson(const Results& results) {
  std::string out;
  WriteResultsJson(results, [&](std::string_view chunk) { out += chunk; });
  return out;
}

std::string ResultsJsonLine(const Results& results) {
  std::string out;
  WriteResultsJsonLine(results, [&](std::string_view chunk) { out += chunk; });
  return out;
}

std::string ResultsJsonOfDocument(const Results& results) {
  std::string out;
  Write(Document(results), 0, out);
  return out + "\n";
}

std::string ResultsJsonLineOfDocument(const Results& results) {
  return Flat(Document(results)) + "\n";
}

}  // namespace market
