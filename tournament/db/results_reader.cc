#include "tournament/db/results_reader.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "engine/measures.h"
#include "engine/packed_numbers.h"
#include "engine/response_stats.h"

namespace tournament {
namespace {

using Json = nlohmann::ordered_json;  // keeps the values in the buyers order

const char* KindName(Entry::Kind kind) {
  switch (kind) {
    case Entry::Kind::kBuiltIn:
      return "builtin";
    case Entry::Kind::kBuyer:
      return "buyer";
    case Entry::Kind::kCommand:
      return "command";
  }
  return "builtin";
}

market::Outcome OutcomeOf(const std::string& name) {
  if (name == "sold") return market::Outcome::kSold;
  if (name == "unsold") return market::Outcome::kUnsold;
  if (name == "pending") return market::Outcome::kPending;
  if (name == "interrupted") return market::Outcome::kInterrupted;
  throw std::invalid_argument("unknown outcome " + name);
}

template <typename T>
T Or(const Json& j, const char* key, T fallback) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  return it->get<T>();
}

// The goods' values, once the auction's buyers are read: packed with their buyers' runs of
// indices (form 2), or an object by buyer's name.
void ReadValues(const Json& goods, market::AuctionResult& auction) {
  std::map<std::string, uint32_t> index;
  for (size_t b = 0; b < auction.buyers.size(); ++b) {
    index.emplace(auction.buyers[b].name, static_cast<uint32_t>(b));
  }
  for (size_t i = 0; i < auction.goods.size(); ++i) {
    const Json& g = goods.at(i);
    std::vector<market::BuyerValue>& out = auction.goods[i].values;
    if (const auto packed = g.find("values_packed"); packed != g.end()) {
      const auto values = market::UnpackNumbers(packed->get<std::string>());
      if (!values) throw std::invalid_argument("values_packed is not packed numbers");
      for (const Json& run : g.at("value_buyers")) {
        const auto first = run.at(0).get<uint32_t>();
        const auto count = run.at(1).get<uint32_t>();
        if (first > auction.buyers.size() || count > auction.buyers.size() - first ||
            count > values->size() - out.size()) {
          throw std::invalid_argument("value_buyers does not match the buyers and the values");
        }
        for (uint32_t k = 0; k < count; ++k) out.push_back({first + k, (*values)[out.size()]});
      }
      if (out.size() != values->size()) throw std::invalid_argument("values of no buyer");
    } else if (const auto values = g.find("values"); values != g.end() && values->is_object()) {
      for (const auto& [name, value] : values->items()) {
        const auto it = index.find(name);
        if (it == index.end()) throw std::invalid_argument("a value of no buyer " + name);
        out.push_back({it->second, value.get<int64_t>()});
      }
    }
  }
}

// The document back into the market's results: what the engine wrote, field for field.
market::Results Parse(const Json& doc) {
  market::Results r;
  r.seed = doc.at("seed").get<uint64_t>();
  r.completed = doc.at("completed").get<bool>();
  r.ended_early = Or<std::string>(doc, "ended_early", "");
  r.clock = Or<std::string>(doc, "session_clock", "");
  for (const Json& a : doc.at("auctions")) {
    market::AuctionResult auction;
    auction.number = a.at("number").get<int>();
    auction.rounds = a.at("rounds").get<int>();
    for (const Json& g : a.at("goods")) {
      market::GoodResult good;
      good.good.id = g.at("id").get<std::string>();
      good.good.kind = g.at("kind").get<std::string>();
      good.good.seller = g.at("seller").get<std::string>();
      good.good.round = g.at("round").get<int>();
      good.good.initial = g.at("initial").get<int64_t>();
      good.good.resale = g.at("resale").get<int64_t>();
      good.good.reserve = g.at("reserve").get<int64_t>();
      good.outcome = OutcomeOf(g.at("outcome").get<std::string>());
      good.buyer = Or<std::string>(g, "buyer", "");
      good.price = Or<int64_t>(g, "price", 0);
      good.collisions = g.at("collisions").get<int>();
      good.sanctions = g.at("sanctions").get<int>();
      auction.goods.push_back(std::move(good));
    }
    for (const Json& b : a.at("buyers")) {
      market::BuyerResult buyer;
      buyer.name = b.at("name").get<std::string>();
      buyer.participant = b.at("participant").get<bool>();
      buyer.purchases = b.at("purchases").get<int>();
      buyer.spend = b.at("spend").get<int64_t>();
      buyer.benefit = b.at("benefit").get<int64_t>();
      buyer.sanctions = b.at("sanctions").get<int>();
      buyer.fines = b.at("fines").get<int64_t>();
      buyer.expelled = b.at("expelled").get<bool>();
      buyer.left = b.at("left").get<bool>();
      buyer.strategy = Or<std::string>(b, "strategy", "");
      auction.buyers.push_back(std::move(buyer));
    }
    ReadValues(a.at("goods"), auction);
    r.auctions.push_back(std::move(auction));
  }
  for (const Json& p : doc.at("participants")) {
    market::ParticipantResult participant;
    participant.login = p.at("login").get<std::string>();
    participant.bids = p.at("bids").get<int64_t>();
    participant.faults = p.at("faults").get<int64_t>();
    participant.left = p.at("left").get<bool>();
    participant.dropped = Or<std::string>(p, "dropped", "");
    participant.late_ticks = Or<int64_t>(p, "late_ticks", 0);
    r.participants.push_back(std::move(participant));
  }
  for (const Json& b : doc.at("bids")) {
    market::BidRecord bid;
    bid.auction = b.at("auction").get<int>();
    bid.good = b.at("good").get<std::string>();
    bid.price = b.at("price").get<int64_t>();
    bid.buyer = b.at("buyer").get<std::string>();
    bid.at_us = b.at("at_us").get<int64_t>();
    bid.response_us = b.at("response_us").get<int64_t>();
    r.bids.push_back(std::move(bid));
  }
  return r;
}

}  // namespace

void StartRecord(const Lineup& lineup, SessionRecord& record) {
  record.goods.clear();
  record.bids.clear();
  record.participants.clear();
  record.revenue = 0;
  record.efficiency = record.top_value_share = record.price_over_top = std::nullopt;
  for (const Entry& entry : lineup.entries) {
    ParticipantRow row;
    row.name = entry.name;
    row.kind = KindName(entry.kind);
    row.strategy = entry.Describe();
    record.participants.push_back(std::move(row));
  }
}

const char* OutcomeName(market::Outcome outcome) {
  switch (outcome) {
    case market::Outcome::kPending:
      return "pending";
    case market::Outcome::kSold:
      return "sold";
    case market::Outcome::kUnsold:
      return "unsold";
    case market::Outcome::kInterrupted:
      return "interrupted";
  }
  return "pending";
}

bool BelongsTo(std::string_view buyer, std::string_view entry) {
  if (buyer.substr(0, entry.size()) != entry) return false;
  const std::string_view rest = buyer.substr(entry.size());
  return std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         (rest.empty() || rest[0] != '0');
}

void ReadResults(const market::Results& results, const Lineup& lineup, SessionRecord& record) {
  StartRecord(lineup, record);
  size_t goods = 0;
  for (const market::AuctionResult& auction : results.auctions) goods += auction.goods.size();
  record.goods.reserve(goods);
  for (const market::AuctionResult& auction : results.auctions) {
    for (const market::GoodResult& g : auction.goods) {
      GoodRow good;
      good.auction = auction.number;
      good.id = g.good.id;
      good.kind = g.good.kind;
      good.seller = g.good.seller;
      good.round = g.good.round;
      good.initial = g.good.initial;
      good.resale = g.good.resale;
      good.reserve = g.good.reserve;
      good.outcome = OutcomeName(g.outcome);
      if (g.outcome == market::Outcome::kSold) {
        good.buyer = g.buyer;
        good.price = g.price;
        record.revenue += g.price;
      }
      good.collisions = g.collisions;
      good.sanctions = g.sanctions;
      good.values.reserve(g.values.size());
      for (const market::BuyerValue& v : g.values) {
        good.values.emplace_back(auction.buyers.at(v.buyer).name, v.value);
      }
      record.goods.push_back(std::move(good));
    }
    // Surplus as the market measures it: each buyer's values of what it bought less the prices,
    // less its fines (for the agent, its value of a good is the resale price).
    const std::vector<int64_t> surplus = market::Surpluses(auction);
    for (size_t index = 0; index < auction.buyers.size(); ++index) {
      const market::BuyerResult& b = auction.buyers[index];
      // The entry of that name, or else the group it is a numbered member of.
      auto it = std::find_if(record.participants.begin(), record.participants.end(),
                             [&](const ParticipantRow& r) { return r.name == b.name; });
      if (it == record.participants.end()) {
        it = std::find_if(record.participants.begin(), record.participants.end(),
                          [&](const ParticipantRow& r) { return BelongsTo(b.name, r.name); });
      }
      if (it == record.participants.end()) continue;
      it->purchases += b.purchases;
      it->spend += b.spend;
      it->benefit += b.benefit;
      it->fines += b.fines;
      it->sanctions += b.sanctions;
      it->expulsions += b.expelled ? 1 : 0;
      it->surplus += surplus[index];
    }
  }
  for (const market::ParticipantResult& p : results.participants) {
    for (ParticipantRow& row : record.participants) {
      if (row.kind == "builtin" || row.name != p.login) continue;
      row.logged_in = true;
      row.bids += p.bids;
      row.faults += p.faults;
      row.left = row.left || p.left;
      if (row.dropped.empty()) row.dropped = p.dropped;
      if (results.clock == "stepped") row.late_ticks = row.late_ticks.value_or(0) + p.late_ticks;
    }
  }
  for (ParticipantRow& row : record.participants) {
    if (!row.logged_in) continue;
    const market::ResponseStats stats = market::ResponseTimes(results.bids, row.name);
    row.response_count = stats.count;
    if (stats.count > 0) {
      row.response_median_us = stats.median_us;
      row.response_p99_us = stats.p99_us;
    }
  }
  for (const market::BidRecord& b : results.bids) {
    record.bids.push_back({b.auction, b.good, b.price, b.buyer, b.at_us, b.response_us});
  }
  market::MarketMeasures measures;
  for (const market::AuctionResult& auction : results.auctions) {
    measures.Add(market::MeasureAuction(auction));
  }
  record.efficiency = measures.efficiency();
  record.top_value_share = measures.top_value_share();
  record.price_over_top = measures.price_over_top();
  record.outcome = results.completed ? "completed" : "ended_early";
  record.detail = results.completed ? "" : results.ended_early;
}

std::string ReadResults(std::string_view json, const Lineup& lineup, SessionRecord& record) {
  try {
    ReadResults(Parse(Json::parse(json)), lineup, record);
    return {};
  } catch (const std::exception& e) {  // nlohmann's faults and an unknown outcome
    StartRecord(lineup, record);
    record.outcome = "failed";
    return std::string("the results are not the market's JSON: ") + e.what();
  }
}

}  // namespace tournament
