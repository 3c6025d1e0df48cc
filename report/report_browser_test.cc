// The reports in a real browser: the structure a reader sees, no console errors, screenshots
// saved under the build tree's artefacts/ folder. Needs Chromium (skipped without it, failed
// without it when $CI is set).
#include <gtest/gtest.h>

#include <filesystem>

#include "report/report_fixtures.h"
#include "report/session_data.h"
#include "report/session_report.h"
#include "report/tournament_data.h"
#include "report/tournament_report.h"
#include "tests/support/browser.h"
#include "tests/support/files.h"

namespace report {
namespace {

using Json = nlohmann::json;

class ReportBrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    browser_ = testbrowser::Browser::Start(&error).release();
    if (browser_ == nullptr) start_error_ = new std::string(error);
    std::filesystem::create_directories(ARTEFACTS_DIR);
  }
  static void TearDownTestSuite() {
    delete browser_;
    browser_ = nullptr;
    delete start_error_;
    start_error_ = nullptr;
  }
  void SetUp() override {
    if (browser_ != nullptr) return;
    if (testbrowser::BrowserRequired()) FAIL() << "no browser: " << *start_error_;
    GTEST_SKIP() << "no browser: " << *start_error_;
  }
  // Writes the page, opens it and checks that it loaded without a console error.
  void Load(const std::string& page, const std::string& name) {
    const std::string path = testfiles::MakeTempDir() + "/" + name;
    testfiles::WriteFile(path, page);
    ASSERT_TRUE(browser_->Open("file://" + path)) << browser_->error();
  }
  Json Eval(const std::string& expression) {
    const Json value = browser_->Eval(expression);
    EXPECT_FALSE(value.is_null()) << expression << ": " << browser_->error();
    return value;
  }

  static testbrowser::Browser* browser_;
  static std::string* start_error_;
};
testbrowser::Browser* ReportBrowserTest::browser_ = nullptr;
std::string* ReportBrowserTest::start_error_ = nullptr;

TEST_F(ReportBrowserTest, SessionReport) {
  const SessionData data = ReadSessionResults(testing::SessionFixtureJson());
  ASSERT_NO_FATAL_FAILURE(Load(SessionReport(data, "session.json"), "session.html"));
  EXPECT_EQ(Eval("document.querySelectorAll('svg.price-clock').length"), testing::kFixtureGoods);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.price-clock .bid').length"),
            testing::kFixtureTickBids);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.price-clock .collision').length"),
            testing::kFixtureCollisions);
  // Per chart: its good, as many marks as the results hold tick bids for that good (rivals'
  // included), and its step line.
  Json expected = Json::array();
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) {
      expected.push_back({std::to_string(a.number), g.id, g.tick_bids.size(), 1});
    }
  }
  EXPECT_EQ(Eval("[...document.querySelectorAll('svg.price-clock')].map(s => "
                 "[s.dataset.auction, s.dataset.good, s.querySelectorAll('.bid').length, "
                 "s.querySelectorAll('polyline.clock').length])"),
            expected);
  // Charts are laid out, titled and labelled with real text.
  EXPECT_EQ(Eval("[...document.querySelectorAll('svg.price-clock')].every(s => "
                 "s.getBoundingClientRect().width > 300 && "
                 "s.querySelector('text.chart-title').textContent.length > 0 && "
                 "s.querySelectorAll('text.axis-label').length == 2)"),
            true);
  // The hostile login is text on the page, not an element.
  EXPECT_EQ(Eval("document.querySelectorAll('img, script').length"), 0);
  EXPECT_EQ(Eval("[...document.querySelectorAll('.legend .item .name')].map(e => "
                 "e.textContent.trim()).includes('" +
                 std::string(testing::kHostileLogin) + "')"),
            true);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
  EXPECT_TRUE(browser_->Screenshot(std::string(ARTEFACTS_DIR) + "/session_report.png"))
      << browser_->error();
}

TEST_F(ReportBrowserTest, TournamentReport) {
  const std::string db = testfiles::MakeTempDir() + "/t.db";
  testing::WriteTournamentFixture(db, 6);
  ASSERT_NO_FATAL_FAILURE(
      Load(TournamentReport(ReadTournament(db, ""), "t.db"), "tournament.html"));
  EXPECT_EQ(Eval("document.querySelectorAll('table.leaderboard tr.entry').length"),
            testing::kFixtureEntries);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.leaderboard-chart .whisker').length"),
            testing::kFixtureEntries);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.surplus-distribution .box').length"),
            testing::kFixtureEntries);
  EXPECT_EQ(Eval("[...document.querySelectorAll('tr.entry')].map(r => r.dataset.name)"
                 ".filter(n => n == '" +
                 std::string(testing::kHostileLogin) + "').length"),
            1);
  EXPECT_EQ(Eval("document.querySelectorAll('img, script').length"), 0);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
  EXPECT_TRUE(browser_->Screenshot(std::string(ARTEFACTS_DIR) + "/tournament_report.png"))
      << browser_->error();
}

}  // namespace
}  // namespace report
