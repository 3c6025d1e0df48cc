#include "report/session_report.h"

#include <gtest/gtest.h>

#include <regex>

#include "report/report_fixtures.h"
#include "tests/support/files.h"

namespace report {
namespace {

using test_support::Count;

class SessionReportTest : public ::testing::Test {
 protected:
  const SessionData data_ = ReadSessionResults(testing::SessionFixtureJson());
  const std::string page_ = SessionReport(data_, "session.json");
};

TEST_F(SessionReportTest, OneChartPerGoodAndOneMarkPerTickBid) {
  EXPECT_EQ(Count(page_, "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"price-clock\""),
            static_cast<size_t>(testing::kFixtureGoods));
  EXPECT_EQ(Count(page_, "class=\"bid\""), static_cast<size_t>(testing::kFixtureTickBids));
  // The collision on wine1: the clock rose from 2200 to 2400.
  EXPECT_EQ(Count(page_, "class=\"collision\""), static_cast<size_t>(testing::kFixtureCollisions));
  EXPECT_NE(page_.find("data-from=\"2200\" data-to=\"2400\""), std::string::npos);
  // The rival's bid is drawn and has its place in the legend.
  EXPECT_NE(page_.find("class=\"bid\" data-buyer=\"Vera\""), std::string::npos);
  EXPECT_NE(page_.find("<span class=\"name\">Vera</span>"), std::string::npos);
  // Sales and the fall out of the market.
  EXPECT_EQ(Count(page_, "<g class=\"sale\""), 3u);
  EXPECT_EQ(Count(page_, "<g class=\"out-of-market\""), 1u);
  // Every chart has a title and both axis labels.
  EXPECT_EQ(Count(page_, "class=\"chart-title\""), static_cast<size_t>(testing::kFixtureGoods));
  EXPECT_EQ(Count(page_, "axis-label x-label"), static_cast<size_t>(testing::kFixtureGoods));
  EXPECT_EQ(Count(page_, "axis-label y-label"), static_cast<size_t>(testing::kFixtureGoods));
}

// Results written before goods carried their clock: the participants' bids, as before.
TEST(SessionReportWithoutClocks, DrawsTheParticipantsBids) {
  const std::string page =
      SessionReport(ReadSessionResults(testing::SessionFixtureJsonWithoutClocks()), "session.json");
  EXPECT_EQ(Count(page, "class=\"bid\""), static_cast<size_t>(testing::kFixtureBids));
  EXPECT_EQ(Count(page, "<polyline"), 0u);
  EXPECT_NE(page.find("do not record the goods' price clocks"), std::string::npos);
  EXPECT_NE(page.find("5 recorded bids"), std::string::npos);
}

TEST_F(SessionReportTest, InputNeverBecomesMarkup) {
  EXPECT_EQ(page_.find(testing::kHostileLogin), std::string::npos);
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
  EXPECT_EQ(SessionReport(ReadSessionResults(testing::SessionFixtureJson()), "session.json"),
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
