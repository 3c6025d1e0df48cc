#include "engine/results.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace market {
namespace {

Results Sample() {
  Results r;
  r.seed = 7;
  r.auctions_planned = 2;
  r.completed = true;
  AuctionResult a;
  a.number = 1;
  a.rounds = 2;
  GoodResult sold{"wine1", "wine",         "Ana",    1,    2600, 2300,
                  1400,    Outcome::kSold, "CLogin", 2000, 0,    0};
  GoodResult contested{"gold1", "gold",         "Dora", 2,     24000, 20000,
                       15000,   Outcome::kSold, "Vera", 20500, 2,     1};
  GoodResult unsold{"oil1", "oil", "Ben", 2, 2500, 900, 1600, Outcome::kUnsold, "", 0, 0, 0};
  a.goods = {sold, contested, unsold};
  a.buyers = {{"CLogin", true, 1, 2000, 300, 0, 0, false, false},
              {"Vera", false, 1, 20500, -500, 0, 0, false, false},
              {"Rash", false, 0, 0, 0, 2, 5300, true, false}};
  r.auctions = {a};
  r.ignored = {{"(not admitted)", "hello \"market\"", "unknown command"}};
  r.ignored_total = 1;
  return r;
}

TEST(Results, Summary) {
  const std::string expected =
      "Market session, seed 7: 2 auctions, market closed\n"
      "\n"
      "Auction 1: 3 goods, 2 sold, 1 unsold\n"
      "  round  good   kind  seller  initial  resale  reserve  outcome\n"
      "      1  wine1  wine  Ana        2600    2300     1400  sold to CLogin at 2000\n"
      "      2  gold1  gold  Dora      24000   20000    15000  sold to Vera at 20500 "
      "(2 collisions, 1 voided sale)\n"
      "      2  oil1   oil   Ben        2500     900     1600  unsold\n"
      "  buyer   bought  spend  benefit  sanctions  fines  status\n"
      "  CLogin       1   2000      300          0      0  agent\n"
      "  Vera         1  20500     -500          0      0  rival\n"
      "  Rash         0      0        0          2   5300  rival, expelled\n"
      "\n"
      "Ignored commands: 1\n"
      "  (not admitted): \"hello \\\"market\\\"\" (unknown command)\n";
  EXPECT_EQ(SummaryText(Sample()), expected);

  Results early = Sample();
  early.completed = false;
  early.ended_early = "the agent went away";
  early.auctions[0].goods[2].outcome = Outcome::kPending;
  const std::string text = SummaryText(early);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "Market session, seed 7: ended early in auction 1 of 2: the agent went away");
  EXPECT_NE(text.find("Auction 1: 3 goods, 2 sold, 0 unsold, 1 not offered\n"), std::string::npos);
  EXPECT_NE(text.find("oil1   oil   Ben        2500     900     1600  not offered\n"),
            std::string::npos);
}

TEST(Results, JsonCarriesEveryFigure) {
  const nlohmann::json j = nlohmann::json::parse(ResultsJson(Sample()));
  EXPECT_EQ(j["seed"], 7);
  EXPECT_EQ(j["completed"], true);
  EXPECT_TRUE(j["ended_early"].is_null());
  const auto& goods = j["auctions"][0]["goods"];
  ASSERT_EQ(goods.size(), 3u);
  EXPECT_EQ(goods[0]["buyer"], "CLogin");
  EXPECT_EQ(goods[0]["price"], 2000);
  EXPECT_EQ(goods[1]["collisions"], 2);
  EXPECT_EQ(goods[1]["round"], 2);
  EXPECT_EQ(goods[2]["outcome"], "unsold");
  EXPECT_TRUE(goods[2]["buyer"].is_null());
  EXPECT_TRUE(goods[2]["price"].is_null());
  EXPECT_EQ(goods[2]["reserve"], 1600);
  const auto& rash = j["auctions"][0]["buyers"][2];
  EXPECT_EQ(rash["name"], "Rash");
  EXPECT_EQ(rash["fines"], 5300);
  EXPECT_EQ(rash["expelled"], true);
  EXPECT_EQ(rash["participant"], false);
  EXPECT_EQ(j["auctions"][0]["buyers"][1]["benefit"], -500);
  EXPECT_EQ(j["ignored"][0]["line"], "hello \"market\"");
  EXPECT_EQ(j["ignored_total"], 1);

  Results empty;
  empty.ended_early = "denied";
  const nlohmann::json e = nlohmann::json::parse(ResultsJson(empty));
  EXPECT_TRUE(e["auctions"].empty());
  EXPECT_EQ(e["ended_early"], "denied");
}

TEST(Results, ResponseTimesUseTheCountedBidsAtNearestRank) {
  const auto bids = [](std::vector<int64_t> times) {
    std::vector<BidRecord> records;
    for (int64_t t : times) records.push_back({1, "g1", 100, "Ann", 0, t, true});
    return records;
  };
  const struct {
    std::vector<int64_t> times;
    ResponseStats expected;
  } cases[] = {
      {{}, {0, 0, 0}},
      {{70}, {1, 70, 70}},
      {{40, 10, 30, 20}, {4, 20, 40}},
      {{5, 1, 4, 2, 3}, {5, 3, 5}},
  };
  for (const auto& c : cases) {
    const ResponseStats stats = ResponseTimes(bids(c.times), "Ann");
    EXPECT_EQ(stats.count, c.expected.count);
    EXPECT_EQ(stats.median_us, c.expected.median_us);
    EXPECT_EQ(stats.p99_us, c.expected.p99_us);
  }
  // A hundred bids 1..100: p99 is the 99th; repeats and other buyers are left out.
  std::vector<int64_t> hundred;
  for (int64_t t = 100; t >= 1; --t) hundred.push_back(t);
  std::vector<BidRecord> records = bids(hundred);
  records.push_back({1, "g1", 100, "Ann", 0, 100000, false});
  records.push_back({1, "g1", 100, "Bob", 0, 100000, true});
  const ResponseStats ann = ResponseTimes(records, "Ann");
  EXPECT_EQ(ann.count, 100);
  EXPECT_EQ(ann.median_us, 50);
  EXPECT_EQ(ann.p99_us, 99);
  EXPECT_EQ(ResponseTimes(records).count, 101);
  EXPECT_EQ(ResponseTimes(records).p99_us, 100);
}

TEST(Results, ParticipantsCarryTheirResponseTimesAndDrops) {
  Results r = Sample();
  r.participants = {{"CLogin", 3, 0, false, ""}, {"Ann", 1, 2, true, "too many faults"}};
  r.bids = {{1, "wine1", 2000, "CLogin", 5000, 1200, true},
            {1, "wine1", 2000, "CLogin", 5100, 1300, false},
            {1, "wine1", 2000, "CLogin", 9000, 3400, true}};
  r.dropped = {{"Ann", "too many faults"}};
  r.dropped_total = 1;
  const nlohmann::json j = nlohmann::json::parse(ResultsJson(r));
  ASSERT_EQ(j["participants"].size(), 2u);
  EXPECT_EQ(j["participants"][0]["bids"], 3);
  EXPECT_EQ(j["participants"][0]["response_us"]["count"], 2);
  EXPECT_EQ(j["participants"][0]["response_us"]["median"], 1200);
  EXPECT_EQ(j["participants"][0]["response_us"]["p99"], 3400);
  EXPECT_TRUE(j["participants"][1]["response_us"]["median"].is_null());
  EXPECT_EQ(j["participants"][1]["dropped"], "too many faults");
  EXPECT_TRUE(j["participants"][0]["dropped"].is_null());
  ASSERT_EQ(j["bids"].size(), 3u);
  EXPECT_EQ(j["bids"][1]["counted"], false);
  EXPECT_EQ(j["bids"][2]["at_us"], 9000);
  EXPECT_EQ(j["dropped"][0]["reason"], "too many faults");
  const std::string text = SummaryText(r);
  EXPECT_NE(text.find("  CLogin     3        2                 1.2     3.4       0  stayed\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  Ann        1        0                   -       -       2  dropped: too "
                      "many faults\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Connections dropped: 1\n  Ann: too many faults\n"), std::string::npos);
}

TEST(Results, JsonStringsEscapeEveryByte) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\there\nnew\rret", "\"tab\\there\\nnew\\rret\""},
      {std::string("nul\0x\x1f\x7f", 7), "\"nul\\u0000x\\u001f\\u007f\""},
      {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},  // valid UTF-8 kept
      {"bad\xff", "\"bad\\ufffd\""},
      {"cut\xe2\x82", "\"cut\\ufffd\\ufffd\""},
      {"overlong\xc0\xaf", "\"overlong\\ufffd\\ufffd\""},
      {"surrogate\xed\xa0\x80", "\"surrogate\\ufffd\\ufffd\\ufffd\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(JsonString(c.in), c.out);
    EXPECT_TRUE(nlohmann::json::accept(JsonString(c.in)));
  }
}

}  // namespace
}  // namespace market
