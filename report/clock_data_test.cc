#include "report/clock_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include <nlohmann/json.hpp>

#include "report/large_session_fixture.h"
#include "report/report_fixtures.h"

namespace report {
namespace {

using Json = nlohmann::json;
using Bid = std::tuple<double, int64_t, std::string>;  // at_us, price, buyer

std::vector<size_t> FromBase64(const std::string& text) {
  const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    acc = (acc << 6) | static_cast<uint32_t>(digits.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>((acc >> bits) & 0xff));
    }
  }
  std::vector<size_t> out;
  for (size_t i = 0; i < bytes.size() * 8; ++i) {
    if (bytes[i / 8] & (1u << (i % 8))) out.push_back(i);
  }
  return out;
}

struct Decoded {
  std::vector<ClockPoint> clock;
  std::vector<Bid> bids;
  std::optional<double> end;
  size_t bitmaps = 0;
};

// What the page's script reads back from one good of the document.
Decoded Decode(const Json& good, const Json& buyers) {
  Decoded d;
  const Json& c = good.at("clock");
  double at = c.at(0).get<double>();
  int64_t price = c.at(1).get<int64_t>();
  d.clock.push_back({static_cast<int64_t>(at), price, false});
  for (size_t i = 2; i + 1 < c.size(); i += 2) {
    at += c[i].get<double>();
    price += c[i + 1].get<int64_t>();
    d.clock.push_back({static_cast<int64_t>(at), price, false});
  }
  for (const Json& i : good.at("rises")) d.clock.at(i.get<size_t>()).collision = true;
  if (good.contains("end")) d.end = good["end"].get<double>();
  double t = c.at(0).get<double>();
  for (const Json& group : good.at("bids")) {
    t += group.at(0).get<double>();
    std::vector<size_t> who;
    if (group.at(2).is_string()) {
      who = FromBase64(group[2].get<std::string>());
      ++d.bitmaps;
    } else {
      who = group[2].get<std::vector<size_t>>();
    }
    for (size_t b : who) d.bids.emplace_back(t, group[1].get<int64_t>(), buyers.at(b));
  }
  return d;
}

// Every good's clock and tick bids come back from the document as the results hold them, in
// their order.
void ExpectRoundTrip(const SessionData& data, size_t* bitmaps) {
  const std::string text = ClockDataJson(data, {});
  const Json doc = Json::parse(text);
  size_t k = 0;
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) {
      SCOPED_TRACE(g.id);
      const Json& good = doc.at("goods").at(k++);
      EXPECT_EQ(good.at("a"), a.number);
      EXPECT_EQ(good.at("id"), g.id);
      EXPECT_EQ(good.at("outcome"), g.outcome);
      const Decoded d = Decode(good, doc.at("buyers"));
      ASSERT_EQ(d.clock.size(), g.clock.size());
      for (size_t i = 0; i < g.clock.size(); ++i) {
        EXPECT_EQ(d.clock[i].at_us, g.clock[i].at_us);
        EXPECT_EQ(d.clock[i].price, g.clock[i].price);
        EXPECT_EQ(d.clock[i].collision, g.clock[i].collision);
      }
      if (g.ended_us) {
        ASSERT_TRUE(d.end);
        EXPECT_EQ(*d.end + static_cast<double>(g.clock.front().at_us),
                  static_cast<double>(*g.ended_us));
      }
      std::vector<Bid> want;
      for (const SessionBid& b : g.tick_bids) {
        want.emplace_back(static_cast<double>(b.at_us), b.price, b.buyer);
      }
      EXPECT_EQ(d.bids, want);
      *bitmaps += d.bitmaps;
    }
  }
  EXPECT_EQ(k, doc.at("goods").size());
}

TEST(ClockData, EveryBidComesBackFromListsAndBitmaps) {
  size_t bitmaps = 0;
  // Busy ticks (half of 60 buyers) are written as bitmaps ...
  ExpectRoundTrip(test_support::LargeSession(7, {2, 5, 60, 5, 0.5}), &bitmaps);
  EXPECT_GT(bitmaps, 0u);
  // ... and sparse ones, as the small results fixture has, as lists.
  bitmaps = 0;
  ExpectRoundTrip(ReadSessionResults(test_support::SessionFixtureJson()), &bitmaps);
  EXPECT_EQ(bitmaps, 0u);
}

TEST(ClockData, RepeatedBuyersExtremeTimesAndGoodsWithoutClock) {
  SessionData data;
  SessionAuction a;
  a.number = 3;
  SessionGood g;
  g.auction = 3;
  g.id = "g";
  g.outcome = "sold";
  g.buyer = "x";
  g.has_clock = true;
  // Times at both ends of the range: their differences do not fit an integer.
  g.clock = {{INT64_MIN, 10, false}, {0, 7, false}, {INT64_MAX, 107, true}};
  g.ended_us = INT64_MAX;
  // One buyer twice at one tick, among many others: must stay a list to keep both.
  for (int i = 0; i < 40; ++i) g.tick_bids.push_back({"b" + std::to_string(i), 7, 0, 0});
  g.tick_bids.push_back({"b3", 7, 0, 0});
  a.goods.push_back(g);
  SessionGood old;
  old.auction = 3;
  old.id = "old";
  old.outcome = "unsold";
  old.bids = {{"b1", 5, 1000, 10}};
  a.goods.push_back(old);
  data.auctions.push_back(a);

  const Json doc = Json::parse(ClockDataJson(data, {}));
  const Decoded d = Decode(doc["goods"][0], doc["buyers"]);
  EXPECT_EQ(d.bids.size(), 41u);
  EXPECT_EQ(std::count(d.bids.begin(), d.bids.end(), Bid{0, 7, "b3"}), 2);
  ASSERT_EQ(d.clock.size(), 3u);
  EXPECT_DOUBLE_EQ(static_cast<double>(d.clock[2].price), 107);
  EXPECT_TRUE(d.clock[2].collision);
  EXPECT_GT(doc["goods"][0]["clock"][2].get<double>(), 9e18);  // a step, not an overflow
  // A good without a clock carries its chart as the page draws it inline.
  EXPECT_FALSE(doc["goods"][1].contains("clock"));
  EXPECT_NE(doc["goods"][1]["svg"].get<std::string>().find("class=\"price-clock\""),
            std::string::npos);
}

TEST(ClockData, TextFromTheInputCannotEndTheScriptElement) {
  SessionData data = ReadSessionResults(test_support::SessionFixtureJson());
  data.auctions[0].goods[0].id = "</script><script>alert(1)</script>";
  data.auctions[0].goods[0].tick_bids[0].buyer = "<!--\xff\x01";
  const std::string text = ClockDataJson(data, {});
  EXPECT_EQ(text.find('<'), std::string::npos);
  EXPECT_EQ(text.find('>'), std::string::npos);
  const Json doc = Json::parse(text);  // still valid JSON, the bad bytes replaced
  EXPECT_EQ(doc["goods"][0]["id"], "</script><script>alert(1)</script>");
  EXPECT_EQ(std::get<2>(Decode(doc["goods"][0], doc["buyers"]).bids.at(0)), "<!--\xEF\xBF\xBD\x01");
}

}  // namespace
}  // namespace report
