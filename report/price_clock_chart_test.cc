#include "report/price_clock_chart.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "report/report_fixtures.h"
#include "report/session_data.h"
#include "tests/support/files.h"

namespace report {
namespace {

using test_support::Count;

// The (x, y) points of the chart's step line.
std::vector<std::pair<double, double>> StepLine(const std::string& svg) {
  const std::smatch m = [&] {
    std::smatch found;
    std::regex_search(svg, found,
                      std::regex("<polyline points=\"([^\"]*)\" fill=\"none\" class=\"clock\""));
    return found;
  }();
  std::vector<std::pair<double, double>> points;
  if (m.empty()) return points;
  const std::string list = m[1];
  const std::regex point("(-?[0-9.]+),(-?[0-9.]+)");
  for (auto it = std::sregex_iterator(list.begin(), list.end(), point);
       it != std::sregex_iterator(); ++it) {
    points.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  }
  return points;
}

// A small good: offers 1000, 900, a collision to 1050 (the agent and the rival bid at 900),
// 950, where the rival alone bids and buys.
SessionGood SmallGood() {
  SessionGood g;
  g.auction = 1;
  g.id = "g1";
  g.initial = 1000;
  g.reserve = 500;
  g.outcome = "sold";
  g.buyer = "Vera";
  g.price = 950;
  g.has_clock = true;
  g.clock = {{0, 1000, false}, {20'000, 900, false}, {40'000, 1050, true}, {60'000, 950, false}};
  g.tick_bids = {
      {"Ann", 900, 25'000, 5'000}, {"Vera", 900, 40'000, 20'000}, {"Vera", 950, 80'000, 20'000}};
  g.ended_us = 80'000;
  return g;
}

TEST(PriceClockChart, DrawsTheClockAsStepsWithTheCollisionTheBidsAndTheSale) {
  const std::string svg = PriceClockChart(SmallGood(), {{"Ann", 0}, {"Vera", 1}});
  // Every price held until the next: flat, then a vertical move at each announcement.
  const auto points = StepLine(svg);
  ASSERT_EQ(points.size(), 8u) << svg;
  for (size_t i = 1; i < points.size(); ++i) {
    SCOPED_TRACE(i);
    // Alternately a horizontal run and a vertical move.
    if (i % 2 == 1) {
      EXPECT_EQ(points[i].second, points[i - 1].second);
      EXPECT_GT(points[i].first, points[i - 1].first);
    } else {
      EXPECT_EQ(points[i].first, points[i - 1].first);
    }
  }
  // Down (larger y) to 900, up to 1050, down to 950.
  EXPECT_GT(points[2].second, points[1].second);
  EXPECT_LT(points[4].second, points[3].second);
  EXPECT_GT(points[6].second, points[5].second);
  // One collision, from 900 to 1050, drawn on its own.
  EXPECT_EQ(Count(svg, "class=\"collision\""), 1u);
  EXPECT_NE(svg.find("data-from=\"900\" data-to=\"1050\""), std::string::npos);
  // Every tick bid, the rival's included, in its buyer's style.
  EXPECT_EQ(Count(svg, "class=\"bid\""), 3u);
  EXPECT_EQ(Count(svg, "data-buyer=\"Vera\" data-price"), 2u);
  EXPECT_NE(svg.find("Ann bids at 900, 25 ms after the first offer (5 ms after the price)"),
            std::string::npos);
  EXPECT_NE(svg.find("data-bids=\"3\""), std::string::npos);
  EXPECT_NE(svg.find("time since the first offer (ms)"), std::string::npos);
  EXPECT_NE(svg.find("<g class=\"sale\" data-buyer=\"Vera\">"), std::string::npos);
  EXPECT_NE(svg.find("sold to Vera at 950"), std::string::npos);
  EXPECT_EQ(svg.find("clock-unknown"), std::string::npos);
}

// The baseline of the text element that shows `what`.
double TextY(const std::string& svg, const std::string& what) {
  const size_t at = svg.find(what);
  if (at == std::string::npos) return -1;
  const size_t y = svg.find(" y=\"", svg.rfind("<text", at)) + 4;
  return std::stod(svg.substr(y, svg.find('"', y) - y));
}

TEST(PriceClockChart, HowTheGoodEnded) {
  SessionGood unsold = SmallGood();
  unsold.outcome = "unsold";
  unsold.tick_bids.clear();
  SessionGood interrupted = SmallGood();
  interrupted.outcome = "interrupted";
  interrupted.ended_us.reset();
  const struct {
    SessionGood good;
    std::string shows;
  } cases[] = {
      {unsold, "fell out of the market at 500"},
      {interrupted, "not sold: interrupted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shows);
    const std::string svg = PriceClockChart(c.good, {});
    EXPECT_NE(svg.find(c.shows), std::string::npos);
    EXPECT_EQ(svg.find("class=\"sale\""), std::string::npos);
    EXPECT_EQ(StepLine(svg).size(), 8u);
  }
  // The cross stands on the reserve line, at its right end: its label keeps a line clear of the
  // reserve line's own label.
  const std::string svg = PriceClockChart(unsold, {});
  EXPECT_GE(TextY(svg, "reserve 500") - TextY(svg, "fell out of the market"), 14.0) << svg;
}

// Bids made at one instant and price (rivals decide together) stand apart, none hidden.
TEST(PriceClockChart, BidsAtOneInstantStandSideBySide) {
  SessionGood g = SmallGood();
  g.tick_bids = {
      {"Ann", 900, 40'000, 20'000}, {"Vera", 900, 40'000, 20'000}, {"Otto", 900, 40'000, 20'000}};
  // One style for all: the markers differ only where they stand.
  const std::string svg = PriceClockChart(g, {});
  EXPECT_EQ(Count(svg, "class=\"bid\""), 3u);
  std::set<std::string> xs;
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    at = svg.find("class=\"bid\"", at);
    ASSERT_NE(at, std::string::npos);
    const size_t start = svg.rfind('<', at);
    xs.insert(svg.substr(start, at - start));
    ++at;
  }
  EXPECT_EQ(xs.size(), 3u) << svg;
}

TEST(PriceClockChart, ResultsWithoutClocksAreDrawnFromTheParticipantsBids) {
  const SessionData data = ReadSessionResults(test_support::SessionFixtureJsonWithoutClocks());
  const SessionGood& wine = data.auctions.at(0).goods.at(0);
  ASSERT_FALSE(wine.has_clock);
  const std::string svg = PriceClockChart(wine, {});
  EXPECT_EQ(Count(svg, "class=\"bid\""), wine.bids.size());
  EXPECT_NE(svg.find("clock-unknown"), std::string::npos);
  EXPECT_NE(svg.find("session time (s)"), std::string::npos);
}

}  // namespace
}  // namespace report
