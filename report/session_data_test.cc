#include "report/session_data.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/results_json.h"
#include "engine/scenario.h"
#include "engine/virtual_session.h"
#include "report/report_fixtures.h"
#include "report/session_document.h"

namespace report {
namespace {

TEST(ReadSessionResults, AttachesEachBidToItsGood) {
  const SessionData data = ReadSessionResults(test_support::SessionFixtureJson());
  EXPECT_EQ(data.seed, "42");
  EXPECT_TRUE(data.completed);
  ASSERT_EQ(data.auctions.size(), 2u);
  ASSERT_EQ(data.auctions[0].goods.size(), 3u);
  EXPECT_EQ(data.bids, static_cast<size_t>(test_support::kFixtureBids));
  EXPECT_EQ(data.unmatched_bids, 0u);
  const SessionGood& wine = data.auctions[0].goods[0];
  EXPECT_EQ(wine.buyer, test_support::kHostileLogin);
  ASSERT_EQ(wine.bids.size(), 3u);
  EXPECT_EQ(wine.bids[1].buyer, test_support::kHostileLogin);
  EXPECT_EQ(wine.bids[2].price, 2300);
  EXPECT_EQ(data.auctions[0].goods[1].bids.size(), 0u);
  EXPECT_EQ(data.auctions[1].goods[0].id, "salt\"2'");
  EXPECT_EQ(data.auctions[1].goods[0].bids.size(), 1u);  // same id rules per auction
  EXPECT_EQ(data.auctions[0].buyers[2].surplus, 500);    // value 21000 less price 20500
  EXPECT_FALSE(data.measures.empty());
}

TEST(ReadSessionResults, ReadsEachGoodsClockAndTickBids) {
  const SessionData data = ReadSessionResults(test_support::SessionFixtureJson());
  EXPECT_EQ(data.tick_bids, static_cast<size_t>(test_support::kFixtureTickBids));
  const SessionGood& wine = data.auctions[0].goods[0];
  ASSERT_TRUE(wine.has_clock);
  ASSERT_EQ(wine.clock.size(), 7u);
  EXPECT_EQ(wine.clock[0].at_us, 917'000);
  EXPECT_EQ(wine.clock[0].price, 2600);
  EXPECT_FALSE(wine.clock[4].collision);
  EXPECT_TRUE(wine.clock[5].collision);
  EXPECT_EQ(wine.clock[5].price, 2400);
  ASSERT_EQ(wine.tick_bids.size(), 3u);
  EXPECT_EQ(wine.tick_bids[1].buyer, test_support::kHostileLogin);
  // Each tick bid's time after the price it answered, from the clock.
  EXPECT_EQ(wine.tick_bids[0].response_us, 3'000);
  EXPECT_EQ(wine.tick_bids[2].response_us, 2'000);
  EXPECT_EQ(wine.ended_us, 1'057'000);
  const SessionGood& gold = data.auctions[0].goods[2];
  ASSERT_EQ(gold.tick_bids.size(), 2u);
  EXPECT_EQ(gold.tick_bids[1].buyer, "Vera");  // a rival's bid
  EXPECT_EQ(gold.tick_bids[1].response_us, 20'000);

  const SessionData old = ReadSessionResults(test_support::SessionFixtureJsonWithoutClocks());
  EXPECT_FALSE(old.auctions[0].goods[0].has_clock);
  EXPECT_EQ(old.tick_bids, 0u);
  EXPECT_EQ(old.bids, static_cast<size_t>(test_support::kFixtureBids));
}

// Every good's clock and tick bids as the results hold them, against what was read back.
void ExpectClocksRead(const market::Results& results, const SessionData& data) {
  ASSERT_EQ(data.auctions.size(), results.auctions.size());
  size_t tick_bids = 0;
  for (size_t a = 0; a < results.auctions.size(); ++a) {
    const market::AuctionResult& auction = results.auctions[a];
    ASSERT_EQ(data.auctions[a].goods.size(), auction.goods.size());
    for (size_t g = 0; g < auction.goods.size(); ++g) {
      const market::GoodResult& want = auction.goods[g];
      const SessionGood& got = data.auctions[a].goods[g];
      SCOPED_TRACE(want.good.id);
      ASSERT_TRUE(got.has_clock);
      ASSERT_EQ(got.clock.size(), want.clock.size());
      for (size_t i = 0; i < want.clock.size(); ++i) {
        EXPECT_EQ(got.clock[i].at_us, want.clock[i].at_us);
        EXPECT_EQ(got.clock[i].price, want.clock[i].price);
        EXPECT_EQ(got.clock[i].collision,
                  want.clock[i].kind == market::ClockStep::Kind::kCollision);
      }
      const std::vector<market::TickBid> want_bids = want.tick_bids.Unpacked();
      ASSERT_EQ(got.tick_bids.size(), want_bids.size());
      for (size_t i = 0; i < want_bids.size(); ++i) {
        const market::TickBid& bid = want_bids[i];
        EXPECT_EQ(got.tick_bids[i].at_us, bid.at_us) << i;
        EXPECT_EQ(got.tick_bids[i].price, bid.price) << i;
        EXPECT_EQ(got.tick_bids[i].buyer, bid.buyer < auction.buyers.size()
                                              ? auction.buyers[bid.buyer].name
                                              : "(unknown buyer)")
            << i;
      }
      tick_bids += want_bids.size();
      EXPECT_EQ(got.ended_us, want.ended_us);
    }
  }
  EXPECT_EQ(data.tick_bids, tick_bids);
}

market::Scenario DefaultScenario() {
  market::ScenarioLoad load =
      market::ParseScenario(market::DefaultScenarioText(), market::kDefaultScenarioName);
  EXPECT_TRUE(load.scenario.has_value());
  return *load.scenario;
}

// The results written in their compact form come back whole: every price announced, every tick
// bid with its buyer, time and price, in order. Sessions of the default scenario, and a good
// whose bids the engine would not write (out of the buyers' order, repeated, of a buyer beyond
// the list) so that only a faithful reading passes.
TEST(ReadSessionResults, ReadsBackEveryOfferAndTickBidOfTheCompactForm) {
  std::vector<market::Results> cases;
  for (const uint64_t seed : {uint64_t{1}, uint64_t{7}, uint64_t{20240611}}) {
    cases.push_back(market::RunVirtualSession(DefaultScenario(), seed).results);
  }
  market::Results odd = cases[0];
  market::GoodResult& good = odd.auctions[0].goods[0];
  const auto buyers = static_cast<uint32_t>(odd.auctions[0].buyers.size());
  ASSERT_GE(buyers, 3u);
  good.tick_bids = {{5, 100, 2}, {5, 100, 0},         {5, 100, 0},
                    {5, 101, 1}, {6, 101, 1},         {-7, -3, buyers},
                    {8, 99, 0},  {8, 99, UINT32_MAX}, {INT64_MAX, 0, 1}};
  cases.push_back(odd);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string text = market::ResultsJson(cases[i]);
    ASSERT_NE(text.find("\"tick_bids_packed\""), std::string::npos);
    ExpectClocksRead(cases[i], ReadSessionResults(text));
    ExpectClocksRead(cases[i], ReadSessionResults(market::ResultsJsonLine(cases[i])));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Results written before the compact form (no "format"; tick bids as rows naming their buyer)
// are read as before: a session of the default scenario kept from then reads exactly as the same
// session written now.
TEST(ReadSessionResults, ReadsTheOlderFormAsTheSameSessionInTheCompactForm) {
  const std::string file = ReadFile(REPORT_TESTDATA_DIR "/default_session_form1.jsonl");
  ASSERT_EQ(file.find("\"format\""), std::string::npos);
  ASSERT_NE(file.find("\"tick_bids\":[[280000,2000,\"Vera\"]"), std::string::npos);
  const SessionData old = ReadSessionResults(SessionDocument(file, 1));
  const market::Results now = market::RunVirtualSession(DefaultScenario(), 20240611).results;
  ExpectClocksRead(now, old);
  EXPECT_EQ(old.seed, "20240611");
  const SessionData compact = ReadSessionResults(market::ResultsJson(now));
  ASSERT_EQ(compact.auctions.size(), old.auctions.size());
  for (size_t a = 0; a < old.auctions.size(); ++a) {
    ASSERT_EQ(compact.auctions[a].buyers.size(), old.auctions[a].buyers.size());
    for (size_t b = 0; b < old.auctions[a].buyers.size(); ++b) {
      EXPECT_EQ(compact.auctions[a].buyers[b].name, old.auctions[a].buyers[b].name);
      EXPECT_EQ(compact.auctions[a].buyers[b].surplus, old.auctions[a].buyers[b].surplus);
    }
    EXPECT_EQ(compact.auctions[a].measures, old.auctions[a].measures);
  }
  EXPECT_EQ(compact.measures, old.measures);
  EXPECT_EQ(compact.surplus, old.surplus);
}

// A session's tick bids are counted as they are read, in either form: results holding more than
// the most a report draws are refused in one line, those holding exactly as many are read.
TEST(ReadSessionResults, TickBidsPastTheMostAReportDrawsAreRefused) {
  const std::string file = ReadFile(REPORT_TESTDATA_DIR "/default_session_form1.jsonl");
  const std::string older(SessionDocument(file, 1));
  const std::string compact =
      market::ResultsJson(market::RunVirtualSession(DefaultScenario(), 20240611).results);
  for (const std::string& text : {older, compact}) {
    const size_t all = ReadSessionResults(text).tick_bids;
    ASSERT_GT(all, 10u);
    EXPECT_EQ(ReadSessionResults(text, all).tick_bids, all);
    try {
      ReadSessionResults(text, all - 1);
      ADD_FAILURE() << "read past the most";
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()), "results: more than " + std::to_string(all - 1) +
                                           " tick bids, more than a report draws");
    }
  }
}

TEST(ReadSessionResults, ABidForAnUnknownGoodIsCountedNotDrawn) {
  std::string json = test_support::SessionFixtureJson();
  const std::string from = "\"good\": \"gold1\"";
  json.replace(json.find(from), from.size(), "\"good\": \"nothing\"");
  const SessionData data = ReadSessionResults(json);
  EXPECT_EQ(data.bids, static_cast<size_t>(test_support::kFixtureBids - 1));
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
      {Good("\"clock\": [], \"tick_bids_packed\": [[1, 2, \"A+\"]]"),
       "auctions[0].goods[0].tick_bids_packed[0][2] is not packed numbers"},
      {Good("\"clock\": [], \"tick_bids_packed\": [[1, 2, \"g\"]]"),
       "auctions[0].goods[0].tick_bids_packed[0][2] is not packed numbers"},
      {Good("\"clock\": [], \"tick_bids_packed\": [[1, 2]]"),
       "auctions[0].goods[0].tick_bids_packed[0] is not a row of 3"},
      {Good("\"clock\": [], \"tick_bids_packed\": [[1, 2, 3]]"),
       "auctions[0].goods[0].tick_bids_packed[0][2] is not a string"},
      // The largest index, then a step past it.
      {Good("\"clock\": [], \"tick_bids_packed\": [[1, 2, \"-___________PC\"]]"),
       "auctions[0].goods[0].tick_bids_packed[0][2] names no buyer"},
      {"{\"format\": 3, \"auctions\": []}", "format 3 is not one this program reads (1 to 2)"},
      {"{\"format\": 0, \"auctions\": []}", "format 0 is not one this program reads"},
      {"{\"format\": \"2\", \"auctions\": []}", "format is not an integer"},
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
