#include "tournament/results_reader.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace tournament {
namespace {

using Json = nlohmann::json;

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

template <typename T>
std::optional<T> Maybe(const Json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return it->get<T>();
}

void Fill(const Json& doc, const Lineup& lineup, SessionRecord& record) {
  StartRecord(lineup, record);
  for (const Json& auction : doc.at("auctions")) {
    const int number = auction.at("number").get<int>();
    for (const Json& g : auction.at("goods")) {
      GoodRow good;
      good.auction = number;
      good.id = g.at("id").get<std::string>();
      good.kind = g.at("kind").get<std::string>();
      good.seller = g.at("seller").get<std::string>();
      good.round = g.at("round").get<int>();
      good.initial = g.at("initial").get<int64_t>();
      good.resale = g.at("resale").get<int64_t>();
      good.reserve = g.at("reserve").get<int64_t>();
      good.outcome = g.at("outcome").get<std::string>();
      good.buyer = Maybe<std::string>(g, "buyer");
      good.price = Maybe<int64_t>(g, "price");
      good.collisions = g.at("collisions").get<int>();
      good.sanctions = g.at("sanctions").get<int>();
      if (good.outcome == "sold" && good.price) record.revenue += *good.price;
      record.goods.push_back(std::move(good));
    }
    for (const Json& b : auction.at("buyers")) {
      const std::string name = b.at("name").get<std::string>();
      // The entry of that name, or else the group it is a numbered member of.
      auto it = std::find_if(record.participants.begin(), record.participants.end(),
                             [&](const ParticipantRow& r) { return r.name == name; });
      if (it == record.participants.end()) {
        it = std::find_if(record.participants.begin(), record.participants.end(),
                          [&](const ParticipantRow& r) { return BelongsTo(name, r.name); });
      }
      if (it != record.participants.end()) {
        ParticipantRow& row = *it;
        row.purchases += b.at("purchases").get<int>();
        row.spend += b.at("spend").get<int64_t>();
        row.benefit += b.at("benefit").get<int64_t>();
        row.fines += b.at("fines").get<int64_t>();
        row.sanctions += b.at("sanctions").get<int>();
        row.expulsions += b.at("expelled").get<bool>() ? 1 : 0;
      }
    }
  }
  for (ParticipantRow& row : record.participants) row.surplus = row.benefit - row.fines;
  for (const Json& p : doc.at("participants")) {
    const std::string login = p.at("login").get<std::string>();
    for (ParticipantRow& row : record.participants) {
      if (row.kind == "builtin" || row.name != login) continue;
      row.logged_in = true;
      row.bids += p.at("bids").get<int64_t>();
      row.faults += p.at("faults").get<int64_t>();
      row.left = row.left || p.at("left").get<bool>();
      if (row.dropped.empty()) row.dropped = Maybe<std::string>(p, "dropped").value_or("");
      const Json& response = p.at("response_us");
      row.response_count = response.at("count").get<int64_t>();
      row.response_median_us = Maybe<int64_t>(response, "median");
      row.response_p99_us = Maybe<int64_t>(response, "p99");
    }
  }
  for (const Json& b : doc.at("bids")) {
    BidRow bid;
    bid.auction = b.at("auction").get<int>();
    bid.good = b.at("good").get<std::string>();
    bid.price = b.at("price").get<int64_t>();
    bid.buyer = b.at("buyer").get<std::string>();
    bid.at_us = b.at("at_us").get<int64_t>();
    bid.response_us = b.at("response_us").get<int64_t>();
    bid.counted = b.at("counted").get<bool>();
    record.bids.push_back(std::move(bid));
  }
  const bool completed = doc.at("completed").get<bool>();
  record.outcome = completed ? "completed" : "ended_early";
  record.detail = completed ? "" : Maybe<std::string>(doc, "ended_early").value_or("");
}

}  // namespace

void StartRecord(const Lineup& lineup, SessionRecord& record) {
  record.goods.clear();
  record.bids.clear();
  record.participants.clear();
  record.revenue = 0;
  for (const Entry& entry : lineup.entries) {
    ParticipantRow row;
    row.name = entry.name;
    row.kind = KindName(entry.kind);
    row.strategy = entry.Describe();
    record.participants.push_back(std::move(row));
  }
}

bool BelongsTo(std::string_view buyer, std::string_view entry) {
  if (buyer.substr(0, entry.size()) != entry) return false;
  const std::string_view rest = buyer.substr(entry.size());
  return std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         (rest.empty() || rest[0] != '0');
}

std::string ReadResults(std::string_view json, const Lineup& lineup, SessionRecord& record) {
  try {
    Fill(Json::parse(json), lineup, record);
    return {};
  } catch (const Json::exception& e) {
    StartRecord(lineup, record);
    record.outcome = "failed";
    return std::string("the results are not the market's JSON: ") + e.what();
  }
}

}  // namespace tournament
