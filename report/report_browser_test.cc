// The reports in a real browser: the structure a reader sees, no console errors, screenshots
// saved under the build tree's artefacts/ folder. Needs Chromium (skipped without it, failed
// without it when $CI is set).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>

#include "report/large_session_fixture.h"
#include "report/price_clock_chart.h"
#include "report/report_fixtures.h"
#include "report/session_data.h"
#include "report/session_report.h"
#include "report/tournament_data.h"
#include "report/tournament_report.h"
#include "tests/support/browser_fixture.h"
#include "tests/support/files.h"

namespace report {
namespace {

using Json = nlohmann::json;

class ReportBrowserTest : public test_support::BrowserSuite {
 protected:
  static void SetUpTestSuite() {
    BrowserSuite::SetUpTestSuite();
    std::filesystem::create_directories(ARTEFACTS_DIR);
  }
  // Writes the page, opens it and checks that it loaded without a console error.
  void Load(const std::string& page, const std::string& name, double timeout_seconds = 20) {
    const std::string path = test_support::MakeTempDir() + "/" + name;
    test_support::WriteFile(path, page);
    ASSERT_TRUE(browser_->Open("file://" + path, timeout_seconds)) << browser_->error();
  }
  Json Eval(const std::string& expression) {
    const Json value = browser_->Eval(expression);
    EXPECT_FALSE(value.is_null()) << expression << ": " << browser_->error();
    return value;
  }
};

TEST_F(ReportBrowserTest, SessionReport) {
  const SessionData data = ReadSessionResults(test_support::SessionFixtureJson());
  ASSERT_NO_FATAL_FAILURE(Load(SessionReport(data, "session.json"), "session.html"));
  EXPECT_EQ(Eval("document.querySelectorAll('svg.price-clock').length"),
            test_support::kFixtureGoods);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.price-clock .bid').length"),
            test_support::kFixtureTickBids);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.price-clock .collision').length"),
            test_support::kFixtureCollisions);
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
                 std::string(test_support::kHostileLogin) + "')"),
            true);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
  EXPECT_TRUE(browser_->Screenshot(std::string(ARTEFACTS_DIR) + "/session_report.png"))
      << browser_->error();
}

// The largest session a scenario allows (21 auctions of 200 goods, 1,000 buyers in each, about
// 4.7 million bids at ticks): the page opens, shows every auction's accounts and goods, and draws
// the clock of each good a reader picks with every one of its bids. The time the page took to
// load is printed, not judged: it depends on the machine's load.
TEST_F(ReportBrowserTest, LargestSessionDrawsClocksOnDemand) {
  constexpr uint64_t kSeed = 29;
  std::cout << "seed " << kSeed << "\n";
  const SessionData data = test_support::LargeSession(kSeed);
  ASSERT_FALSE(DrawsEveryClock(data));
  const std::string page = SessionReport(data, "largest.json");
  std::cout << "page: " << page.size() << " bytes, " << data.tick_bids << " bids at ticks\n";
  EXPECT_LT(page.size(), 20'000'000u);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_NO_FATAL_FAILURE(Load(page, "largest.html", 120));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "opened in " << seconds << " s (load event at "
            << Eval("performance.getEntriesByType('navigation')[0].loadEventEnd / 1000") << " s)\n";

  EXPECT_EQ(Eval("document.querySelectorAll('section.auction').length"), 21);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.auction-summary').length"), 21);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.auction-summary .good-mark').length"), 4200);
  EXPECT_EQ(Eval("document.querySelectorAll('tr.buyer').length"), 21000);
  // Each good's chart as it is drawn: its auction, id, bid marks, collisions and step line.
  const auto chart = [](const SessionGood& g) {
    size_t rises = 0;
    for (const ClockPoint& p : g.clock) rises += p.collision ? 1 : 0;
    return Json::array({std::to_string(g.auction), g.id, g.tick_bids.size(), rises, 1});
  };
  const std::string drawn =
      "[...document.querySelectorAll('.clock-view svg.price-clock')].map(s => [s.dataset.auction, "
      "s.dataset.good, s.querySelectorAll('.bid').length, s.querySelectorAll('.collision').length, "
      "s.querySelectorAll('polyline.clock').length])";
  // When the page opens: the first good of each auction.
  Json expected = Json::array();
  for (const SessionAuction& a : data.auctions) expected.push_back(chart(a.goods.front()));
  EXPECT_EQ(Eval(drawn), expected);

  // Picked in auction 7's list: its good 123 (index 6 * 200 + 122).
  EXPECT_EQ(Eval("(() => { const s = document.querySelectorAll('select.good-picker')[6]; "
                 "s.value = '1322'; s.dispatchEvent(new Event('change')); return 1; })()"),
            1);
  expected[6] = chart(data.auctions[6].goods[122]);
  // Clicked in auction 21's summary chart: its last good.
  EXPECT_EQ(Eval("(() => { document.querySelector('.good-mark[data-index=\"4199\"] .sold, "
                 ".good-mark[data-index=\"4199\"] .unsold').dispatchEvent(new MouseEvent('click', "
                 "{bubbles: true})); return 1; })()"),
            1);
  expected[20] = chart(data.auctions[20].goods[199]);
  EXPECT_EQ(Eval(drawn), expected);
  EXPECT_EQ(Eval("document.querySelector('.good-mark[data-index=\"4199\"]').classList"
                 ".contains('picked')"),
            true);
  // Every bid of the picked good is drawn, a marker named for its buyer and price.
  Json bids = Json::array();
  for (const SessionBid& b : data.auctions[6].goods[122].tick_bids) {
    bids.push_back({b.buyer, std::to_string(b.price)});
  }
  std::sort(bids.begin(), bids.end());
  Json drawn_bids = Eval(
      "[...document.querySelectorAll('section.auction')[6].querySelectorAll('.bid')]"
      ".filter(b => b.querySelector('title').textContent.startsWith("
      "b.dataset.buyer + ' bids at ' + b.dataset.price + ', '))"
      ".map(b => [b.dataset.buyer, b.dataset.price])");
  std::sort(drawn_bids.begin(), drawn_bids.end());
  EXPECT_EQ(drawn_bids, bids);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
}

// A page past the inline limits by its goods, with one auction's goods from results without
// clocks (their charts come as the page would draw them inline) and a hostile buyer.
TEST_F(ReportBrowserTest, OnDemandPageDrawsPickedGoodsOfEitherForm) {
  SessionData data = test_support::LargeSession(11, {2, 201, 30, 4, 0.3});
  for (SessionGood& g : data.auctions[1].goods) {
    g.has_clock = false;
    g.clock.clear();
    g.tick_bids.clear();
    g.bids = {{"CLogin", g.initial - 30, 1'000'000, 2000},
              {test_support::kHostileLogin, g.initial - 60, 1'010'000, 3000}};
  }
  data.auctions[0].goods[5].tick_bids.push_back(
      {test_support::kHostileLogin, data.auctions[0].goods[5].initial, 10000, 0});
  ASSERT_FALSE(DrawsEveryClock(data));
  ASSERT_NO_FATAL_FAILURE(Load(SessionReport(data, "session.json"), "on_demand.html"));
  const std::string pick =
      "(i, k) => { const s = document.querySelectorAll('select.good-picker')[i]; s.value = k; "
      "s.dispatchEvent(new Event('change')); const c = document.querySelectorAll('.clock-view')[i]"
      ".querySelector('svg.price-clock'); return [c.dataset.good, "
      "c.querySelectorAll('.bid').length, "
      "c.querySelectorAll('.bid title').length, c.parentNode.querySelector('figcaption')"
      ".textContent]; }";
  const SessionGood& with_clock = data.auctions[0].goods[5];
  EXPECT_EQ(Eval("(" + pick + ")(0, '5')"),
            Json::array({with_clock.id, with_clock.tick_bids.size(), with_clock.tick_bids.size(),
                         GoodCaption(with_clock)}));
  const SessionGood& without = data.auctions[1].goods[7];
  EXPECT_EQ(Eval("(" + pick + ")(1, '208')"),
            Json::array({without.id, 2, 2, GoodCaption(without)}));
  // The hostile login is a marker's buyer in both forms, never an element.
  EXPECT_EQ(Eval("document.querySelectorAll('img').length"), 0);
  EXPECT_EQ(Eval("[...document.querySelectorAll('.clock-view .bid')].filter(b => "
                 "b.dataset.buyer == '" +
                 std::string(test_support::kHostileLogin) + "').length"),
            2);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
  EXPECT_TRUE(browser_->Screenshot(std::string(ARTEFACTS_DIR) + "/session_report_on_demand.png"))
      << browser_->error();
}

// The script draws a good's clock as the page draws it inline: the same elements with the same
// attributes, texts and tooltips, for every good of the results fixture and a good whose ticks
// many buyers answered at once (kept as bitmaps), on a page past the goods limit.
TEST_F(ReportBrowserTest, ClockDrawnOnDemandMatchesTheInlineChart) {
  SessionData data = ReadSessionResults(test_support::SessionFixtureJson());
  const SessionData busy = test_support::LargeSession(13, {1, 1, 60, 4, 0.5});
  data.auctions[1].goods.push_back(busy.auctions[0].goods[0]);
  data.auctions[1].goods.back().auction = data.auctions[1].number;
  for (const SessionBuyer& b : busy.auctions[0].buyers) data.auctions[1].buyers.push_back(b);
  SessionAuction padding;
  padding.number = 9;
  for (size_t i = 0; i < kInlineClocksMaxGoods; ++i) {
    SessionGood good = data.auctions[0].goods[1];
    good.auction = 9;
    good.id = "p" + std::to_string(i);
    good.tick_bids.clear();
    padding.goods.push_back(good);
  }
  data.auctions.push_back(padding);
  ASSERT_FALSE(DrawsEveryClock(data));
  // The page's styles: one per buyer, in order of first bid.
  std::map<std::string, size_t> styles;
  for (const SessionAuction& a : data.auctions) {
    for (const SessionGood& g : a.goods) {
      for (const SessionBid& b : g.tick_bids) styles.try_emplace(b.buyer, styles.size());
    }
  }
  ASSERT_NO_FATAL_FAILURE(Load(SessionReport(data, "session.json"), "parity.html"));
  // Every element but the root, as tag, sorted attributes and the text of a leaf.
  const std::string describe =
      "(svg) => [...svg.querySelectorAll('*')].map(e => [e.tagName, [...e.attributes]"
      ".map(a => a.name + '=' + a.value).sort().join(' '), e.children.length ? '' : "
      "e.textContent.trim()])";
  size_t index = 0;
  for (size_t a = 0; a + 1 < data.auctions.size(); ++a) {
    for (const SessionGood& good : data.auctions[a].goods) {
      SCOPED_TRACE(good.id);
      const Json inline_svg = PriceClockChart(good, styles);
      const Json same =
          Eval("(() => { const describe = " + describe +
               "; const s = document.querySelectorAll("
               "'select.good-picker')[" +
               std::to_string(a) + "]; s.value = '" + std::to_string(index) +
               "'; s.dispatchEvent(new Event('change')); const drawn = document.querySelectorAll("
               "'.clock-view')[" +
               std::to_string(a) +
               "].querySelector('svg'); const inline = new "
               "DOMParser().parseFromString(" +
               inline_svg.dump() +
               ", 'image/svg+xml')"
               ".documentElement; const x = describe(drawn), y = describe(inline); "
               "const d = x.findIndex((e, i) => JSON.stringify(e) != JSON.stringify(y[i])); "
               "return d < 0 && x.length == y.length ? 'same' : [x.length, y.length, x[d], y[d]]; "
               "})()");
      EXPECT_EQ(same, Json("same"));
      ++index;
    }
  }
  EXPECT_EQ(index, static_cast<size_t>(test_support::kFixtureGoods) + 1);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
}

TEST_F(ReportBrowserTest, TournamentReport) {
  const std::string db = test_support::MakeTempDir() + "/t.db";
  test_support::WriteTournamentFixture(db, 6);
  ASSERT_NO_FATAL_FAILURE(
      Load(TournamentReport(ReadTournament(db, ""), "t.db"), "tournament.html"));
  EXPECT_EQ(Eval("document.querySelectorAll('table.leaderboard tr.entry').length"),
            test_support::kFixtureEntries);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.leaderboard-chart .whisker').length"),
            test_support::kFixtureEntries);
  EXPECT_EQ(Eval("document.querySelectorAll('svg.surplus-distribution .box').length"),
            test_support::kFixtureEntries);
  EXPECT_EQ(Eval("[...document.querySelectorAll('tr.entry')].map(r => r.dataset.name)"
                 ".filter(n => n == '" +
                 std::string(test_support::kHostileLogin) + "').length"),
            1);
  EXPECT_EQ(Eval("document.querySelectorAll('img, script').length"), 0);
  EXPECT_EQ(browser_->ConsoleErrors(), std::vector<std::string>());
  EXPECT_TRUE(browser_->Screenshot(std::string(ARTEFACTS_DIR) + "/tournament_report.png"))
      << browser_->error();
}

}  // namespace
}  // namespace report
