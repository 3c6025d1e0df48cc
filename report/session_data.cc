#include "report/session_data.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "engine/packed_numbers.h"
#include "report/scale.h"

namespace report {
namespace {

using Json = nlohmann::json;

// The newest form of results this reader knows (engine/results_json.h): form 1 has no "format".
constexpr int64_t kNewestFormat = 2;
constexpr const char* kUnknownBuyer = "(unknown buyer)";

// A field of an object, with its path for the error message.
class Field {
 public:
  Field(const Json& value, std::string path) : value_(value), path_(std::move(path)) {}

  Field operator[](std::string_view key) const {
    if (!value_.is_object()) Fail("an object");
    const auto it = value_.find(key);
    if (it == value_.end()) throw InputError("results: " + Join(key) + " is missing");
    return Field(*it, Join(key));
  }
  bool Has(std::string_view key) const {
    return value_.is_object() && value_.find(key) != value_.end();
  }
  Field At(size_t index) const {
    return Field(value_[index], path_ + "[" + std::to_string(index) + "]");
  }
  size_t Size() const {
    if (!value_.is_array()) Fail("an array");
    return value_.size();
  }
  int64_t Int() const {
    if (!value_.is_number_integer()) Fail("an integer");
    if (value_.is_number_unsigned() && value_.get<uint64_t>() > INT64_MAX) Fail("a smaller number");
    return value_.get<int64_t>();
  }
  int SmallInt() const {
    const int64_t v = Int();
    if (v < INT32_MIN || v > INT32_MAX) Fail("a smaller number");
    return static_cast<int>(v);
  }
  std::string Str() const {
    if (!value_.is_string()) Fail("a string");
    return value_.get<std::string>();
  }
  // A string, or "" for null.
  std::string OptStr() const { return value_.is_null() ? "" : Str(); }
  int64_t OptInt() const { return value_.is_null() ? 0 : Int(); }
  bool Bool() const {
    if (!value_.is_boolean()) Fail("true or false");
    return value_.get<bool>();
  }
  const Json& json() const { return value_; }
  const std::string& path() const { return path_; }

 private:
  std::string Join(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
  }
  [[noreturn]] void Fail(const char* expected) const {
    throw InputError("results: " + (path_.empty() ? std::string("the document") : path_) +
                     " is not " + expected);
  }

  const Json& value_;
  std::string path_;
};

std::string Scalar(const Json& v) {
  if (v.is_null()) return "-";
  if (v.is_number_float()) return FormatNumber(v.get<double>(), 3);
  if (v.is_string()) return v.get<std::string>();
  return v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

MeasureList Measures(const Field& object) {
  MeasureList list;
  if (!object.json().is_object()) return list;
  for (const auto& [key, value] : object.json().items()) {
    if (value.is_primitive()) list.emplace_back(key, Scalar(value));
  }
  return list;
}

// A row of a row list: an array of `size` values.
Field Row(const Field& list, size_t index, size_t size) {
  const Field row = list.At(index);
  if (row.Size() != size) {
    throw InputError("results: " + row.path() + " is not a row of " + std::to_string(size));
  }
  return row;
}

// Each tick bid's time after the last announcement at or before it, from the good's clock.
void SetResponseTimes(SessionGood& good) {
  size_t step = 0;  // the last announcement at or before the bid, in time order
  for (SessionBid& bid : good.tick_bids) {
    while (step + 1 < good.clock.size() && good.clock[step + 1].at_us <= bid.at_us) ++step;
    if (!good.clock.empty() && good.clock[step].at_us <= bid.at_us) {
      // In doubles: the difference of two arbitrary integers may not fit in one.
      bid.response_us = static_cast<int64_t>(std::min(
          static_cast<double>(bid.at_us) - static_cast<double>(good.clock[step].at_us), 9e18));
    }
  }
}

// The session's tick bids read so far, against the most it may hold.
struct TickBidCount {
  size_t count = 0;
  size_t most = kMaxTickBids;
  // Counts `more` bids; throws once they go past the most.
  void Add(size_t more) {
    if (more > most - count) {
      throw InputError("results: more than " + std::to_string(most) +
                       " tick bids, more than a report draws");
    }
    count += more;
  }
};

// Names a buyer by its index into the auction's buyers.
std::string BuyerName(int64_t index, const std::vector<SessionBuyer>& buyers) {
  if (index < 0 || static_cast<uint64_t>(index) >= buyers.size()) return kUnknownBuyer;
  return buyers[static_cast<size_t>(index)].name;
}

// "tick_bids_packed": [[at_us, price, buyers], ...], one row per run of bids of one time and
// price, the buyers' indices packed (the first as it stands, each next one as its difference
// from the one before).
void ReadPackedTickBids(const Field& rows, const std::vector<SessionBuyer>& buyers,
                        SessionGood& good, TickBidCount& count) {
  for (size_t i = 0; i < rows.Size(); ++i) {
    const Field row = Row(rows, i, 3);
    const int64_t at_us = row.At(0).Int();
    const int64_t price = row.At(1).Int();
    const auto steps = market::UnpackNumbers(row.At(2).Str());
    if (!steps) throw InputError("results: " + row.At(2).path() + " is not packed numbers");
    count.Add(steps->size());
    int64_t index = 0;
    for (const int64_t step : *steps) {
      // Out of the int64 range is no buyer: kept there rather than wrapped onto one.
      if (step > 0 ? index > INT64_MAX - step : index < INT64_MIN - step) {
        throw InputError("results: " + row.At(2).path() + " names no buyer");
      }
      index += step;
      good.tick_bids.push_back({BuyerName(index, buyers), price, at_us, 0});
    }
  }
}

// The good's "clock" ([[at_us, price, "offer" | "collision"], ...]), its tick bids
// ("tick_bids_packed", or in the older form "tick_bids": [[at_us, price, buyer], ...]) and
// "ended_us".
void ReadClock(const Field& g, const std::vector<SessionBuyer>& buyers, SessionGood& good,
               TickBidCount& tick_bids) {
  good.has_clock = true;
  const Field clock = g["clock"];
  good.clock.reserve(clock.Size());
  for (size_t i = 0; i < clock.Size(); ++i) {
    const Field row = Row(clock, i, 3);
    const std::string kind = row.At(2).Str();
    if (kind != "offer" && kind != "collision") {
      throw InputError("results: " + row.At(2).path() + " is not \"offer\" or \"collision\"");
    }
    good.clock.push_back({row.At(0).Int(), row.At(1).Int(), kind == "collision"});
  }
  if (g.Has("tick_bids_packed")) {
    ReadPackedTickBids(g["tick_bids_packed"], buyers, good, tick_bids);
  } else if (g.Has("tick_bids")) {
    const Field bids = g["tick_bids"];
    tick_bids.Add(bids.Size());
    good.tick_bids.reserve(bids.Size());
    for (size_t i = 0; i < bids.Size(); ++i) {
      const Field row = Row(bids, i, 3);
      SessionBid bid;
      bid.at_us = row.At(0).Int();
      bid.price = row.At(1).Int();
      bid.buyer = row.At(2).json().is_null() ? kUnknownBuyer : row.At(2).Str();
      good.tick_bids.push_back(std::move(bid));
    }
  }
  good.tick_bids.shrink_to_fit();  // a large session holds millions: no room left over
  SetResponseTimes(good);
  if (g.Has("ended_us") && !g["ended_us"].json().is_null()) good.ended_us = g["ended_us"].Int();
}

SessionGood ReadGood(const Field& g, int auction, const std::vector<SessionBuyer>& buyers,
                     TickBidCount& tick_bids) {
  SessionGood good;
  good.auction = auction;
  good.id = g["id"].Str();
  good.kind = g.Has("kind") ? g["kind"].Str() : "";
  good.seller = g.Has("seller") ? g["seller"].Str() : "";
  good.round = g.Has("round") ? g["round"].SmallInt() : 0;
  good.initial = g["initial"].Int();
  good.reserve = g["reserve"].Int();
  good.outcome = g["outcome"].Str();
  if (good.outcome == "sold") {
    good.buyer = g["buyer"].Str();
    good.price = g["price"].Int();
  }
  good.collisions = g.Has("collisions") ? g["collisions"].SmallInt() : 0;
  good.sanctions = g.Has("sanctions") ? g["sanctions"].SmallInt() : 0;
  if (g.Has("clock")) ReadClock(g, buyers, good, tick_bids);
  return good;
}

SessionBuyer ReadBuyer(const Field& b) {
  SessionBuyer buyer;
  buyer.name = b["name"].Str();
  buyer.strategy = b.Has("strategy") ? b["strategy"].Str() : "";
  buyer.participant = b.Has("participant") && b["participant"].Bool();
  buyer.purchases = b["purchases"].SmallInt();
  buyer.spend = b["spend"].Int();
  buyer.benefit = b.Has("benefit") ? b["benefit"].Int() : 0;
  buyer.fines = b.Has("fines") ? b["fines"].Int() : 0;
  buyer.surplus = b["surplus"].Int();
  buyer.sanctions = b["sanctions"].SmallInt();
  buyer.expelled = b.Has("expelled") && b["expelled"].Bool();
  buyer.left = b.Has("left") && b["left"].Bool();
  return buyer;
}

}  // namespace

SessionData ReadSessionResults(std::string_view text, size_t max_tick_bids) {
  const Json doc = Json::parse(text, nullptr, false);
  if (doc.is_discarded()) throw InputError("results: not valid JSON");
  const Field root(doc, "");
  if (!doc.is_object()) throw InputError("results: the document is not an object");
  if (root.Has("format")) {
    const int64_t format = root["format"].Int();
    if (format < 1 || format > kNewestFormat) {
      throw InputError("results: format " + std::to_string(format) +
                       " is not one this program reads (1 to " + std::to_string(kNewestFormat) +
                       ")");
    }
  }
  SessionData data;
  data.seed = root.Has("seed") ? Scalar(doc["seed"]) : "-";
  data.completed = root.Has("completed") && root["completed"].Bool();
  data.ended_early = root.Has("ended_early") ? root["ended_early"].OptStr() : "";
  TickBidCount tick_bids{0, max_tick_bids};
  const Field auctions = root["auctions"];
  std::map<std::pair<int, std::string>, SessionGood*> goods;
  for (size_t a = 0; a < auctions.Size(); ++a) {
    const Field auction = auctions.At(a);
    SessionAuction out;
    out.number = auction["number"].SmallInt();
    const Field goods_list = auction["goods"];
    const Field buyers = auction["buyers"];  // first: the goods name their buyers by index
    for (size_t b = 0; b < buyers.Size(); ++b) out.buyers.push_back(ReadBuyer(buyers.At(b)));
    for (size_t g = 0; g < goods_list.Size(); ++g) {
      out.goods.push_back(ReadGood(goods_list.At(g), out.number, out.buyers, tick_bids));
    }
    if (auction.Has("measures")) out.measures = Measures(auction["measures"]);
    data.auctions.push_back(std::move(out));
  }
  data.tick_bids = tick_bids.count;
  for (SessionAuction& auction : data.auctions) {
    for (SessionGood& good : auction.goods) {
      goods[{auction.number, good.id}] = &good;
    }
  }
  if (root.Has("measures")) {
    const Field measures = root["measures"];
    data.measures = Measures(measures);
    if (measures.Has("surplus") && measures["surplus"].json().is_object()) {
      for (const auto& [name, value] : measures["surplus"].json().items()) {
        data.surplus.emplace_back(name, Field(value, "measures.surplus." + name).Int());
      }
    }
  }
  if (root.Has("bids")) {
    const Field bids = root["bids"];
    for (size_t i = 0; i < bids.Size(); ++i) {
      const Field b = bids.At(i);
      SessionBid bid;
      const int auction = b["auction"].SmallInt();
      const std::string good = b["good"].Str();
      bid.buyer = b["buyer"].Str();
      bid.price = b["price"].Int();
      bid.at_us = b["at_us"].Int();
      bid.response_us = b.Has("response_us") ? b["response_us"].Int() : 0;
      const auto it = goods.find({auction, good});
      if (it == goods.end()) {
        ++data.unmatched_bids;
        continue;
      }
      it->second->bids.push_back(std::move(bid));
      ++data.bids;
    }
  }
  return data;
}

}  // namespace report
