#include "report/session_data.h"

#include <gtest/gtest.h>

#include "report/report_fixtures.h"

namespace report {
namespace {

TEST(ReadSessionResults, AttachesEachBidToItsGood) {
  const SessionData data = ReadSessionResults(testing::SessionFixtureJson());
  EXPECT_EQ(data.seed, "42");
  EXPECT_TRUE(data.completed);
  ASSERT_EQ(data.auctions.size(), 2u);
  ASSERT_EQ(data.auctions[0].goods.size(), 3u);
  EXPECT_EQ(data.bids, static_cast<size_t>(testing::kFixtureBids));
  EXPECT_EQ(data.unmatched_bids, 0u);
  const SessionGood& wine = data.auctions[0].goods[0];
  EXPECT_EQ(wine.buyer, testing::kHostileLogin);
  ASSERT_EQ(wine.bids.size(), 3u);
  EXPECT_EQ(wine.bids[1].buyer, testing::kHostileLogin);
  EXPECT_EQ(wine.bids[2].price, 2300);
  EXPECT_EQ(data.auctions[0].goods[1].bids.size(), 0u);
  EXPECT_EQ(data.auctions[1].goods[0].id, "salt\"2'");
  EXPECT_EQ(data.auctions[1].goods[0].bids.size(), 1u);  // same id rules per auction
  EXPECT_EQ(data.auctions[0].buyers[2].surplus, 500);    // value 21000 less price 20500
  EXPECT_FALSE(data.measures.empty());
}

TEST(ReadSessionResults, ReadsEachGoodsClockAndTickBids) {
  const SessionData data = ReadSessionResults(testing::SessionFixtureJson());
  EXPECT_EQ(data.tick_bids, static_cast<size_t>(testing::kFixtureTickBids));
  const SessionGood& wine = data.auctions[0].goods[0];
  ASSERT_TRUE(wine.has_clock);
  ASSERT_EQ(wine.clock.size(), 7u);
  EXPECT_EQ(wine.clock[0].at_us, 917'000);
  EXPECT_EQ(wine.clock[0].price, 2600);
  EXPECT_FALSE(wine.clock[4].collision);
  EXPECT_TRUE(wine.clock[5].collision);
  EXPECT_EQ(wine.clock[5].price, 2400);
  ASSERT_EQ(wine.tick_bids.size(), 3u);
  EXPECT_EQ(wine.tick_bids[1].buyer, testing::kHostileLogin);
  // Each tick bid's time after the price it answered, from the clock.
  EXPECT_EQ(wine.tick_bids[0].response_us, 3'000);
  EXPECT_EQ(wine.tick_bids[2].response_us, 2'000);
  EXPECT_EQ(wine.ended_us, 1'057'000);
  const SessionGood& gold = data.auctions[0].goods[2];
  ASSERT_EQ(gold.tick_bids.size(), 2u);
  EXPECT_EQ(gold.tick_bids[1].buyer, "Vera");  // a rival's bid
  EXPECT_EQ(gold.tick_bids[1].response_us, 20'000);

  const SessionData old = ReadSessionResults(testing::SessionFixtureJsonWithoutClocks());
  EXPECT_FALSE(old.auctions[0].goods[0].has_clock);
  EXPECT_EQ(old.tick_bids, 0u);
  EXPECT_EQ(old.bids, static_cast<size_t>(testing::kFixtureBids));
}

TEST(ReadSessionResults, ABidForAnUnknownGoodIsCountedNotDrawn) {
  std::string json = testing::SessionFixtureJson();
  const std::string from = "\"good\": \"gold1\"";
  json.replace(json.find(from), from.size(), "\"good\": \"nothing\"");
  const SessionData data = ReadSessionResults(json);
  EXPECT_EQ(data.bids, static_cast<size_t>(testing::kFixtureBids - 1));
  EXPECT_EQ(data.unmatched_bids, 1u);
}

// A results document with one unsold good carrying `fields`.
std::string Good(const std::string& fields) {
  return "{\"auctions\": [{\"number\": 1, \"goods\": [{\"id\": \"g\", \"initial\": 5, "
         "\"reserve\": 1, \"outcome\": \"unsold\", " +
         fields + "}], \"buyers\": []}]}";
}

TEST(ReadSessionResults, BadInputIsOneLineNamingTheFault) {
  const struct {
    std::string json, message;
  } cases[] = {
      {"", "not valid JSON"},
      {"{\"auctions\": [", "not valid JSON"},
      {"[1, 2]", "the document is not an object"},
      {"{}", "auctions is missing"},
      {"{\"auctions\": {}}", "auctions is not an array"},
      {"{\"auctions\": [{\"number\": 1, \"goods\": [{\"id\": \"g\"}], \"buyers\": []}]}",
       "auctions[0].goods[0].initial is missing"},
      {"{\"auctions\": [{\"number\": 1, \"goods\": [{\"id\": \"g\", \"initial\": \"9\", "
       "\"reserve\": 1, \"outcome\": \"unsold\"}], \"buyers\": []}]}",
       "auctions[0].goods[0].initial is not an integer"},
      {"{\"auctions\": [{\"number\": 1, \"goods\": [{\"id\": \"g\", \"initial\": 1e400, "
       "\"reserve\": 1, \"outcome\": \"unsold\"}], \"buyers\": []}]}",
       "not valid JSON"},
      {"{\"auctions\": [{\"number\": 99999999999, \"goods\": [], \"buyers\": []}]}",
       "auctions[0].number is not a smaller number"},
      {"{\"auctions\": [{\"number\": 1, \"goods\": [{\"id\": \"g\", \"initial\": 5, "
       "\"reserve\": 1, \"outcome\": \"sold\"}], \"buyers\": []}]}",
       "auctions[0].goods[0].buyer is missing"},
      {"{\"auctions\": [], \"bids\": [{\"auction\": 1}]}", "bids[0].good is missing"},
      {"{\"auctions\": [], \"bids\": 3}", "bids is not an array"},
      {"{\"auctions\": [], \"measures\": {\"surplus\": {\"x\": null}}}",
       "measures.surplus.x is not an integer"},
      {Good("\"clock\": 3"), "auctions[0].goods[0].clock is not an array"},
      {Good("\"clock\": [[1, 2]]"), "auctions[0].goods[0].clock[0] is not a row of 3"},
      {Good("\"clock\": [5]"), "auctions[0].goods[0].clock[0] is not an array"},
      {Good("\"clock\": [[1, 2, \"rise\"]]"),
       "auctions[0].goods[0].clock[0][2] is not \"offer\" or \"collision\""},
      {Good("\"clock\": [[1, \"2\", \"offer\"]]"),
       "auctions[0].goods[0].clock[0][1] is not an integer"},
      {Good("\"clock\": [], \"tick_bids\": [[1, 2, 3]]"),
       "auctions[0].goods[0].tick_bids[0][2] is not a string"},
      {Good("\"clock\": [], \"ended_us\": \"x\""),
       "auctions[0].goods[0].ended_us is not an integer"},
  };
  for (const auto& c : cases) {
    try {
      ReadSessionResults(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const InputError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(c.message), std::string::npos) << what << " for " << c.json;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
  }
}

TEST(ReadSessionResults, OptionalPartsMayBeAbsent) {
  const SessionData data = ReadSessionResults(
      "{\"auctions\": [{\"number\": 3, \"goods\": [{\"id\": \"g\", \"initial\": 5, \"reserve\": "
      "1, \"outcome\": \"pending\"}], \"buyers\": [{\"name\": \"B\", \"purchases\": 0, "
      "\"spend\": 0, \"surplus\": 0, \"sanctions\": 0}]}]}");
  ASSERT_EQ(data.auctions.size(), 1u);
  EXPECT_EQ(data.auctions[0].goods[0].outcome, "pending");
  EXPECT_EQ(data.bids, 0u);
  EXPECT_EQ(data.seed, "-");
}

}  // namespace
}  // namespace report
