#include "engine/results_json.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/sample_results.h"
#include "engine/scenario.h"
#include "engine/virtual_session.h"

namespace market {
namespace {

using test_support::SampleResults;
using test_support::SampleWithParticipants;

TEST(ResultsJson, CarriesEveryFigure) {
  const nlohmann::json j = nlohmann::json::parse(ResultsJson(SampleResults()));
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

TEST(ResultsJson, ParticipantsCarryTheirResponseTimesAndDrops) {
  const nlohmann::json j = nlohmann::json::parse(ResultsJson(SampleWithParticipants()));
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
}

// Scripts pick records out line by line (e.g. '"login": "b1", "bids": 12'): one record per line,
// keys in this order.
TEST(ResultsJson, OneRecordPerLineInAFixedLayout) {
  Results r;
  r.seed = 3;
  r.auctions_planned = 1;
  r.ended_early = "stopped";
  AuctionResult a;
  a.goods = {{{"g1", "k", "s", 100, 90, 50, 1}, Outcome::kSold, "Ann", 100, 1, 0, {{0, 90}}}};
  r.auctions = {a, AuctionResult{2, 1, {}, {}}};
  r.auctions[0].buyers = {{"Ann", true, 1, 100, -10, 0, 0, false, true, "agent"}};
  r.participants = {{"Ann", 2, 0, true, ""}};
  r.bids = {{1, "g1", 100, "Ann", 7000, 250, true}};
  r.dropped_total = 4;
  const std::string expected =
      "{\n"
      "  \"format\": 2,\n"
      "  \"seed\": 3,\n"
      "  \"session_clock\": null,\n"
      "  \"auctions_planned\": 1,\n"
      "  \"completed\": false,\n"
      "  \"ended_early\": \"stopped\",\n"
      "  \"auctions\": [\n"
      "    {\n"
      "      \"number\": 1,\n"
      "      \"rounds\": 1,\n"
      "      \"goods\": [\n"
      "        {\"id\": \"g1\", \"kind\": \"k\", \"seller\": \"s\", \"round\": 1, \"initial\": "
      "100, "
      "\"resale\": 90, \"reserve\": 50, \"outcome\": \"sold\", \"buyer\": \"Ann\", \"price\": 100, "
      "\"collisions\": 1, \"sanctions\": 0, \"value_buyers\": [[0,1]], \"values_packed\": \"0F\", "
      "\"top_value\": 90, "
      "\"winner_value\": 90, \"won_by_top_value\": true, \"price_over_top_value\": "
      "1.1111111111111112, \"ended_us\": null, \"clock\": [], \"tick_bids_packed\": []}\n"
      "      ],\n"
      "      \"buyers\": [\n"
      "        {\"name\": \"Ann\", \"participant\": true, \"purchases\": 1, \"spend\": 100, "
      "\"benefit\": -10, \"sanctions\": 0, \"fines\": 0, \"expelled\": false, \"left\": true, "
      "\"strategy\": \"agent\", \"surplus\": -10}\n"
      "      ],\n"
      "      \"measures\": {\"goods\": 1, \"sold\": 1, \"revenue\": 100, \"efficiency\": 1.0, "
      "\"top_value_share\": 1.0, \"price_over_top_value\": 1.1111111111111112}\n"
      "    },\n"
      "    {\n"
      "      \"number\": 2,\n"
      "      \"rounds\": 1,\n"
      "      \"goods\": [],\n"
      "      \"buyers\": [],\n"
      "      \"measures\": {\"goods\": 0, \"sold\": 0, \"revenue\": 0, \"efficiency\": null, "
      "\"top_value_share\": null, \"price_over_top_value\": null}\n"
      "    }\n"
      "  ],\n"
      "  \"measures\": {\"goods\": 1, \"sold\": 1, \"revenue\": 100, \"efficiency\": 1.0, "
      "\"top_value_share\": 1.0, \"price_over_top_value\": 1.1111111111111112, \"surplus\": "
      "{\"Ann\": -10}},\n"
      "  \"ignored_total\": 0,\n"
      "  \"ignored\": [],\n"
      "  \"participants\": [\n"
      "    {\"login\": \"Ann\", \"bids\": 2, \"faults\": 0, \"left\": true, \"dropped\": null, "
      "\"late_ticks\": null, \"response_us\": {\"count\": 1, \"median\": 250, \"p99\": 250}}\n"
      "  ],\n"
      "  \"bids\": [\n"
      "    {\"auction\": 1, \"good\": \"g1\", \"price\": 100, \"buyer\": \"Ann\", \"at_us\": 7000, "
      "\"response_us\": 250, \"counted\": true}\n"
      "  ],\n"
      "  \"dropped_total\": 4,\n"
      "  \"dropped\": [],\n"
      "  \"failed_logins_total\": 0,\n"
      "  \"failed_logins\": []\n"
      "}\n";
  EXPECT_EQ(ResultsJson(r), expected);
}

TEST(ResultsJson, StringsOfAnyBytesKeepTheDocumentValidAndOnOneLinePerRecord) {
  const struct {
    std::string in;
    std::string read_back;
  } cases[] = {
      {"plain", "plain"},
      {"a\"b\\c", "a\"b\\c"},
      {"tab\there\nnew\rret", "tab\there\nnew\rret"},
      {std::string("nul\0x\x1f\x7f", 7), std::string("nul\0x\x1f\x7f", 7)},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // valid UTF-8 kept
      {"bad\xff", "bad\xef\xbf\xbd"},                            // not UTF-8: U+FFFD
      {"overlong\xc0\xaf!", "overlong\xef\xbf\xbd\xef\xbf\xbd!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Results r;
    r.ignored = {{"(not admitted)", c.in, "unknown command"}};
    r.ignored_total = 1;
    const std::string text = ResultsJson(r);
    ASSERT_TRUE(nlohmann::json::accept(text)) << text;
    EXPECT_EQ(nlohmann::json::parse(text)["ignored"][0]["line"], c.read_back);
    EXPECT_NE(text.find("    {\"from\": \"(not admitted)\", \"line\": \""), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 20);
  }
  // A sequence cut short at the end of the text is replaced as well.
  Results cut;
  cut.ignored = {{"(not admitted)", "cut\xe2\x82", "unknown command"}};
  const std::string line = nlohmann::json::parse(ResultsJson(cut))["ignored"][0]["line"];
  EXPECT_EQ(line.substr(0, 3), "cut");
  EXPECT_NE(line.find("\xef\xbf\xbd"), std::string::npos);
  EXPECT_EQ(line.find("\xe2\x82"), std::string::npos);
}

// A good's price clock: its steps and tick bids as compact rows, on the good's own line, the bids
// of one time and price in one row with their buyers' indices packed (the first as it stands,
// then differences); when it ended, or null while it never came up.
TEST(ResultsJson, AGoodsClockIsWrittenAsRowsInItsLine) {
  Results r;
  AuctionResult a;
  a.buyers = {{"Ann", true, 1, 1150, 350, 0, 0, false, false, "agent"},
              {"Vera", false, 0, 0, 0, 0, 0, false, false, "value"},
              {"Otto", false, 0, 0, 0, 0, 0, false, false, "value"}};
  // Vera was gone when the good came up: two runs of buyers.
  GoodResult sold{{"g1", "k", "s", 1000, 1500, 100, 1},
                  Outcome::kSold,
                  "Ann",
                  1150,
                  1,
                  0,
                  {{0, 1500}, {2, -3}}};
  sold.clock = {{100'000, 1000, ClockStep::Kind::kOffer},
                {120'000, 1150, ClockStep::Kind::kCollision}};
  sold.tick_bids = {{103'000, 1000, 0}, {120'000, 1000, 1}, {120'000, 1000, 2},
                    {139'000, 1150, 0}, {139'000, 1150, 2}, {1, 5, 7}};
  sold.ended_us = 140'000;
  GoodResult pending{{"g2", "k", "s", 1000, 1500, 100, 1}, Outcome::kPending, "", 0, 0, 0, {}};
  a.goods = {sold, pending};
  r.auctions = {a};
  const std::string text = ResultsJson(r);
  EXPECT_NE(text.find("\"value_buyers\": [[0,1],[2,1]], \"values_packed\": \"49CF\", "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"ended_us\": 140000, \"clock\": [[100000,1000,\"offer\"],"
                      "[120000,1150,\"collision\"]], \"tick_bids_packed\": [[103000,1000,\"A\"],"
                      "[120000,1000,\"CC\"],[139000,1150,\"AE\"],[1,5,\"O\"]]},\n"),
            std::string::npos)
      << text;
  const nlohmann::json j = nlohmann::json::parse(text);
  const auto& goods = j["auctions"][0]["goods"];
  EXPECT_TRUE(goods[1]["ended_us"].is_null());
  EXPECT_EQ(goods[1]["clock"], nlohmann::json::array());
  EXPECT_EQ(goods[1]["tick_bids_packed"], nlohmann::json::array());
  // Each good on one line, its clock and bids with it.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 33);
  EXPECT_EQ(ResultsJsonLine(r), nlohmann::ordered_json::parse(text).dump() + "\n");
}

TEST(ResultsJson, SaysWhichClockRanAndLateTicksOnlyOnTheSteppedClock) {
  struct Case {
    std::string clock;
    nlohmann::json session_clock;
    nlohmann::json late_ticks;
  };
  const std::vector<Case> cases = {
      {"", nullptr, nullptr}, {"real", "real", nullptr}, {"stepped", "stepped", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clock);
    Results r = SampleWithParticipants();
    ASSERT_FALSE(r.participants.empty());
    r.clock = c.clock;
    r.participants[0].late_ticks = 3;
    const nlohmann::json j = nlohmann::json::parse(ResultsJson(r));
    EXPECT_EQ(j["session_clock"], c.session_clock);
    EXPECT_EQ(j["participants"][0]["late_ticks"], c.late_ticks);
  }
}

// The writers stream the document a record at a time; what they write is byte for byte the
// whole document laid out at once, in both layouts, whatever the session held: sessions of the
// default scenario, participants with bids, an empty session, and pieces of any size joined.
TEST(ResultsJson, StreamedTextIsTheWholeDocumentsText) {
  const ScenarioLoad load = ParseScenario(DefaultScenarioText(), kDefaultScenarioName);
  ASSERT_TRUE(load.scenario.has_value());
  std::vector<Results> cases = {Results{}, SampleResults(), SampleWithParticipants()};
  for (const uint64_t seed : {uint64_t{1}, uint64_t{42}, uint64_t{20261211}}) {
    cases.push_back(RunVirtualSession(*load.scenario, seed).results);
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Results& r = cases[i];
    EXPECT_EQ(ResultsJson(r), ResultsJsonOfDocument(r));
    EXPECT_EQ(ResultsJsonLine(r), ResultsJsonLineOfDocument(r));
    std::string joined;
    size_t pieces = 0;
    WriteResultsJson(r, [&](std::string_view piece) {
      EXPECT_FALSE(piece.empty());
      joined += piece;
      ++pieces;
    });
    EXPECT_EQ(joined, ResultsJsonOfDocument(r));
    EXPECT_GE(pieces, 1u);
  }
}

}  // namespace
}  // namespace market
