#include "report/session_report.h"

#include <gtest/gtest.h>

#include <regex>

#include "report/large_session_fixture.h"
#include "report/report_fixtures.h"
#include "tests/support/files.h"

namespace report {
namespace {

using test_support::Count;

class SessionReportTest : public ::testing::Test {
 protected:
  const SessionData data_ = ReadSessionResults(test_support::SessionFixtureJson());
  const std::string page_ = SessionReport(data_, "session.json");
};

TEST_F(SessionReportTest, OneChartPerGoodAndOneMarkPerTickBid) {
  EXPECT_EQ(Count(page_, "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"price-clock\""),
            static_cast<size_t>(test_support::kFixtureGoods));
  EXPECT_EQ(Count(page_, "class=\"bid\""), static_cast<size_t>(test_support::kFixtureTickBids));
  // The collision on wine1: the clock rose from 2200 to 2400.
  EXPECT_EQ(Count(page_, "class=\"collision\""),
            static_cast<size_t>(test_support::kFixtureCollisions));
  EXPECT_NE(page_.find("data-from=\"2200\" data-to=\"2400\""), std::string::npos);
  // The rival's bid is drawn and has its place in the legend.
  EXPECT_NE(page_.find("class=\"bid\" data-buyer=\"Vera\""), std::string::npos);
  EXPECT_NE(page_.find("<span class=\"name\">Vera</span>"), std::string::npos);
  // Sales and the fall out of the market.
  EXPECT_EQ(Count(page_, "<g class=\"sale\""), 3u);
  EXPECT_EQ(Count(page_, "<g class=\"out-of-market\""), 1u);
  // Every chart has a title and both axis labels.
  EXPECT_EQ(Count(page_, "class=\"chart-title\""),
            static_cast<size_t>(test_support::kFixtureGoods));
  EXPECT_EQ(Count(page_, "axis-label x-label"), static_cast<size_t>(test_support::kFixtureGoods));
  EXPECT_EQ(Count(page_, "axis-label y-label"), static_cast<size_t>(test_support::kFixtureGoods));
}

// Results whose goods carry no price clock: the participants' bids are drawn instead.
TEST(SessionReportWithoutClocks, DrawsTheParticipantsBids) {
  const std::string page = SessionReport(
      ReadSessionResults(test_support::SessionFixtureJsonWithoutClocks()), "session.json");
  EXPECT_EQ(Count(page, "class=\"bid\""), static_cast<size_t>(test_support::kFixtureBids));
  EXPECT_EQ(Count(page, "<polyline"), 0u);
  EXPECT_NE(page.find("do not record the goods' price clocks"), std::string::npos);
  EXPECT_NE(page.find("5 recorded bids"), std::string::npos);
}

TEST_F(SessionReportTest, InputNeverBecomesMarkup) {
  EXPECT_EQ(page_.find(test_support::kHostileLogin), std::string::npos);
  EXPECT_EQ(page_.find("<img"), std::string::npos);
  EXPECT_EQ(page_.find("<b>1</b>"), std::string::npos);
  EXPECT_NE(page_.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
  EXPECT_NE(page_.find("data-good=\"salt&quot;2&#39;\""), std::string::npos);
  EXPECT_EQ(page_.find("<script"), std::string::npos);
}

TEST_F(SessionReportTest, SelfContainedAndRepeatable) {
  // Nothing to fetch: the only URL is the SVG namespace, the only link the empty icon.
  const std::regex url("(https?:)?//[^\"]*");
  for (auto it = std::sregex_iterator(page_.begin(), page_.end(), url);
       it != std::sregex_iterator(); ++it) {
    EXPECT_EQ(it->str(), "http://www.w3.org/2000/svg");
  }
  EXPECT_EQ(Count(page_, "href="), 1u);
  EXPECT_NE(page_.find("<link rel=\"icon\" href=\"data:,\">"), std::string::npos);
  EXPECT_EQ(page_.find(" src=\""), std::string::npos);
  EXPECT_EQ(page_.find("@import"), std::string::npos);
  EXPECT_EQ(SessionReport(ReadSessionResults(test_support::SessionFixtureJson()), "session.json"),
            page_);
}

TEST_F(SessionReportTest, BuyersAccountsAndMeasures) {
  EXPECT_EQ(Count(page_, "<tr class=\"buyer\""), 4u);
  EXPECT_NE(page_.find("<td>Vera</td><td>value</td><td class=\"num\">1</td><td class=\"num\">"
                       "20500</td><td class=\"num\">-500</td>"),
            std::string::npos);
  EXPECT_NE(page_.find("<td>revenue</td><td class=\"num\">25500</td>"), std::string::npos);
  EXPECT_NE(page_.find("<td>efficiency</td>"), std::string::npos);
}

}  // namespace
}  // namespace report

namespace report {
namespace {

size_t TickBids(const SessionData& data) {
  size_t bids = 0;
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) bids += g.tick_bids.size();
  }
  return bids;
}

size_t Marks(const SessionData& data) {
  size_t marks = TickBids(data);
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) marks += g.clock.size();
  }
  return marks;
}

// The page draws every clock inline up to both limits, and on demand past either.
TEST(SessionReportSize, InlineUpToTheLimitsOnDemandPastThem) {
  // Goods: four auctions of a hundred goods without bids, then one more good.
  SessionData goods = test_support::LargeSession(3, {4, 100, 10, 4, 0});
  EXPECT_TRUE(DrawsEveryClock(goods));
  goods.auctions[0].goods.push_back(goods.auctions[0].goods[0]);
  EXPECT_FALSE(DrawsEveryClock(goods));

  // Prices and bids: the fixture's wine1 gets bids up to the limit, then one more.
  SessionData marks = ReadSessionResults(test_support::SessionFixtureJson());
  std::vector<SessionBid>& bids = marks.auctions[0].goods[0].tick_bids;
  bids.resize(bids.size() + kInlineClocksMaxMarks - Marks(marks), bids.front());
  ASSERT_EQ(Marks(marks), kInlineClocksMaxMarks);
  EXPECT_TRUE(DrawsEveryClock(marks));
  const std::string inline_page = SessionReport(marks, "s.json");
  EXPECT_EQ(Count(inline_page, "class=\"bid\""), TickBids(marks));
  EXPECT_EQ(inline_page.find("<script"), std::string::npos);

  bids.push_back(bids.front());
  EXPECT_FALSE(DrawsEveryClock(marks));
  const std::string page = SessionReport(marks, "s.json");
  EXPECT_EQ(Count(page, "class=\"bid\""), 0u);
  EXPECT_EQ(Count(page, "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"price-clock\""), 0u);
  EXPECT_NE(page.find("<script type=\"application/json\" id=\"clock-data\">"), std::string::npos);
}

TEST(SessionReportSize, OnDemandPageHasEveryAuctionGoodAndAccount) {
  const SessionData data = test_support::LargeSession(5, {3, 150, 40, 4, 0.3});
  ASSERT_FALSE(DrawsEveryClock(data));
  const std::string page = SessionReport(data, "big.json");
  EXPECT_EQ(Count(page, "<section class=\"auction\""), 3u);
  EXPECT_EQ(Count(page, "class=\"auction-summary\""), 3u);
  EXPECT_EQ(Count(page, "<g class=\"good-mark\""), 450u);
  EXPECT_EQ(Count(page, "<option value="), 450u);
  EXPECT_EQ(Count(page, "<select class=\"good-picker\">"), 3u);
  EXPECT_EQ(Count(page, "<div class=\"clock-view\">"), 3u);
  EXPECT_EQ(Count(page, "<tr class=\"buyer\""), 120u);
  EXPECT_NE(page.find("<td>revenue</td>"), std::string::npos);
  // The good marks point at the goods in the data's order, auction after auction.
  EXPECT_NE(page.find("data-index=\"150\" data-good=\"a2g1\""), std::string::npos);
  EXPECT_NE(page.find("<option value=\"449\">a3g150: "), std::string::npos);
  // One data element, one script, and a policy that lets the page fetch nothing.
  EXPECT_EQ(Count(page, "<script"), 2u);
  EXPECT_NE(page.find("content=\"default-src 'none'; script-src 'unsafe-inline'"),
            std::string::npos);
  // (The base64 bitmaps may hold "//", so addresses are looked for by their scheme.)
  const std::regex url("[A-Za-z][A-Za-z0-9+.-]*://[^\"' ]*");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), url); it != std::sregex_iterator();
       ++it) {
    EXPECT_EQ(it->str(), "http://www.w3.org/2000/svg");
  }
  EXPECT_EQ(Count(page, "href="), 1u);
  EXPECT_EQ(Count(page, "src="), 0u);
  EXPECT_EQ(Count(page, "url("), 0u);
  EXPECT_EQ(Count(page, "fetch("), 0u);
  EXPECT_EQ(SessionReport(data, "big.json"), page);
}

TEST(SessionReportSize, OnDemandPageKeepsInputAsText) {
  SessionData data = test_support::LargeSession(5, {1, 401, 3, 2, 0.5});
  data.auctions[0].goods[0].id = test_support::kHostileLogin;
  data.auctions[0].buyers[0].name = test_support::kHostileLogin;
  data.auctions[0].goods[1].tick_bids.push_back(
      {"</script><script>alert(1)</script>", 1, 10000, 0});
  const std::string page = SessionReport(data, "big.json");
  EXPECT_EQ(page.find(test_support::kHostileLogin), std::string::npos);
  EXPECT_EQ(page.find("alert(1)</script>"), std::string::npos);
  EXPECT_EQ(Count(page, "<script"), 2u);
}

}  // namespace
}  // namespace report
