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

TEST(ReadSessionResults, ABidForAnUnknownGoodIsCountedNotDrawn) {
  std::string json = testing::SessionFixtureJson();
  const std::string from = "\"good\": \"gold1\"";
  json.replace(json.find(from), from.size(), "\"good\": \"nothing\"");
  const SessionData data = ReadSessionResults(json);
  EXPECT_EQ(data.bids, static_cast<size_t>(testing::kFixtureBids - 1));
  EXPECT_EQ(data.unmatched_bids, 1u);
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
