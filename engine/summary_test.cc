#include "engine/summary.h"

#include <gtest/gtest.h>

#include "engine/sample_results.h"

namespace market {
namespace {

using test_support::SampleResults;
using test_support::SampleWithParticipants;

TEST(Summary, TablesOfGoodsAndBuyersPerAuction) {
  const std::string expected =
      "Market session, seed 7: 2 auctions, market closed\n"
      "\n"
      "Auction 1: 3 goods, 2 sold, 1 unsold\n"
      "  round  good   kind  seller  initial  resale  reserve  outcome\n"
      "      1  wine1  wine  Ana        2600    2300     1400  sold to CLogin at 2000\n"
      "      2  gold1  gold  Dora      24000   20000    15000  sold to Vera at 20500 "
      "(2 collisions, 1 voided sale)\n"
      "      2  oil1   oil   Ben        2500     900     1600  unsold\n"
      "  buyer   bought  spend  benefit  sanctions  fines  surplus  status\n"
      "  CLogin       1   2000      300          0      0      300  agent\n"
      "  Vera         1  20500     -500          0      0      500  rival (value)\n"
      "  Rash         0      0        0          2   5300    -5300  rival (careless), expelled\n"
      "  good   top value  winner's value  price / top value\n"
      "  wine1       2600            2300              0.769\n"
      "  gold1      27000           21000              0.759\n"
      "  oil1        1000               -                  -\n"
      "  revenue 22500, efficiency 0.787, won by the top value 0 of 2, price / top value 0.764\n"
      "\n"
      "Market: revenue 22500, efficiency 0.787, won by the top value 0 of 2, price / top value "
      "0.764\n"
      "\n"
      "Ignored commands: 1\n"
      "  (not admitted): \"hello \"market\"\" (unknown command)\n";
  EXPECT_EQ(SummaryText(SampleResults()), expected);

  Results early = SampleResults();
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

TEST(Summary, IgnoredLinesStayOnOneLineEscapedAndTheRestIsCounted) {
  Results r = SampleResults();
  r.ignored = {{"Ann", "bid\r", "unknown command"},
               {"Ann", std::string("a\\b\nc\0d\x7f", 8), "unknown command"},
               {"Ann", "caf\xc3\xa9 \xff", "unknown command"}};
  r.ignored_total = 5;
  const std::string text = SummaryText(r);
  EXPECT_NE(text.find("\nIgnored commands: 5\n"
                      "  Ann: \"bid\\r\" (unknown command)\n"
                      "  Ann: \"a\\\\b\\nc\\x00d\\x7f\" (unknown command)\n"
                      "  Ann: \"caf\xc3\xa9 \xff\" (unknown command)\n"
                      "  ...\n"),
            std::string::npos)
      << text;
}

TEST(Summary, ParticipantsWithTheirResponseTimesAndDrops) {
  const std::string text = SummaryText(SampleWithParticipants());
  EXPECT_NE(text.find("\nBuyers logged in: 2\n"
                      "  buyer   bids  counted  response median ms  p99 ms  faults  status\n"
                      "  CLogin     3        2                 1.2     3.4       0  stayed\n"
                      "  Ann        1        0                   -       -       2  dropped: too "
                      "many faults\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Connections dropped: 1\n  Ann: too many faults\n"), std::string::npos);
}

}  // namespace
}  // namespace market
