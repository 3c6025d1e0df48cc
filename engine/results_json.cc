#include "engine/results_json.h"

#include <algorithm>
#include <string_view>

#include <nlohmann/json.hpp>

#include "engine/measures.h"
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

// [[at_us, price, buyer's name], ...]; null for a buyer index outside the auction's buyers.
Json TickBidsJson(const std::vector<TickBid>& bids, const std::vector<BuyerResult>& buyers) {
  Json out = Json::array();
  for (const TickBid& bid : bids) {
    out.push_back({bid.at_us, bid.price,
                   bid.buyer < buyers.size() ? Json(buyers[bid.buyer].name) : Json(nullptr)});
  }
  return out;
}

Json GoodJson(const GoodResult& result, const std::vector<BuyerResult>& buyers) {
  const Good& g = result.good;
  const bool sold = result.outcome == Outcome::kSold;
  Json values = Json::object();
  for (const BuyerValue& v : result.values) values[v.buyer] = v.value;
  const GoodMeasures m = MeasureGood(result);
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
          {"values", std::move(values)},
          {"top_value", m.top_value},
          {"winner_value", m.winner_value ? Json(*m.winner_value) : Json(nullptr)},
          {"won_by_top_value", sold ? Json(m.won_by_top) : Json(nullptr)},
          {"price_over_top_value", Optional(m.price_over_top)},
          {"ended_us", result.ended_us ? Json(*result.ended_us) : Json(nullptr)},
          {"clock", ClockJson(result.clock)},
          {"tick_bids", TickBidsJson(result.tick_bids, buyers)}};
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

Json AuctionJson(const AuctionResult& auction) {
  Json goods = Json::array();
  for (const GoodResult& g : auction.goods) goods.push_back(GoodJson(g, auction.buyers));
  Json buyers = Json::array();
  const std::vector<int64_t> surplus = Surpluses(auction);
  for (size_t b = 0; b < auction.buyers.size(); ++b) {
    buyers.push_back(BuyerJson(auction.buyers[b], surplus[b]));
  }
  return {{"number", auction.number},
          {"rounds", auction.rounds},
          {"goods", std::move(goods)},
          {"buyers", std::move(buyers)},
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

Json Document(const Results& results) {
  Json auctions = Json::array();
  for (const AuctionResult& a : results.auctions) auctions.push_back(AuctionJson(a));
  Json ignored = Json::array();
  for (const IgnoredLine& line : results.ignored) {
    ignored.push_back({{"from", line.from}, {"line", line.line}, {"reason", line.reason}});
  }
  Json participants = Json::array();
  for (const ParticipantResult& p : results.participants) {
    participants.push_back(ParticipantJson(p, results.bids, results.clock == "stepped"));
  }
  Json bids = Json::array();
  for (const BidRecord& b : results.bids) bids.push_back(BidJson(b));
  Json dropped = Json::array();
  for (const DroppedConnection& d : results.dropped) {
    dropped.push_back({{"from", d.from}, {"reason", d.reason}});
  }
  const SessionMeasures session = MeasureSession(results);
  Json measures = MeasuresJson(session.market);
  measures["surplus"] = Json::object();
  for (const auto& [name, surplus] : session.surplus) measures["surplus"][name] = surplus;
  Json failed = Json::array();
  for (const FailedLogin& f : results.failed_logins) {
    failed.push_back(
        {{"login", f.login}, {"peer", f.peer}, {"at_us", f.at_us}, {"reason", f.reason}});
  }
  return {{"seed", results.seed},
          {"session_clock", results.clock.empty() ? Json(nullptr) : Json(results.clock)},
          {"auctions_planned", results.auctions_planned},
          {"completed", results.completed},
          {"ended_early", results.completed ? Json(nullptr) : Json(results.ended_early)},
          {"auctions", std::move(auctions)},
          {"measures", std::move(measures)},
          {"ignored_total", results.ignored_total},
          {"ignored", std::move(ignored)},
          {"participants", std::move(participants)},
          {"bids", std::move(bids)},
          {"dropped_total", results.dropped_total},
          {"dropped", std::move(dropped)},
          {"failed_logins_total", results.failed_logins_total},
          {"failed_logins", std::move(failed)}};
}

// A scalar, or a value written on one line: strings that are not UTF-8 get U+FFFD, never an
// exception.
std::string Flat(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Lists of plain rows within a record (a good's clock): written in their record's line.
bool RowList(std::string_view key) { return key == "clock" || key == "tick_bids"; }

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

}  // namespace

std::string ResultsJsonLine(const Results& results) { return Flat(Document(results)) + "\n"; }

std::string ResultsJson(const Results& results) {
  std::string out;
  Write(Document(results), 0, out);
  return out + "\n";
}

}  // namespace market
