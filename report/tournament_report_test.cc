#include "report/tournament_report.h"

#include <gtest/gtest.h>

#include "report/report_fixtures.h"
#include "report/session_data.h"
#include "tests/support/files.h"
#include "tournament/db/sqlite_db.h"

namespace report {
namespace {

using test_support::Count;

constexpr int kSessions = 4;

class TournamentReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = new std::string(test_support::MakeTempDir() + "/t.db");
    test_support::WriteTournamentFixture(*path_, kSessions);
  }
  static void TearDownTestSuite() { delete path_; }
  static std::string* path_;
};
std::string* TournamentReportTest::path_ = nullptr;

TEST_F(TournamentReportTest, ReadsEveryEntrysSessions) {
  const TournamentData data = ReadTournament(*path_, "");
  ASSERT_EQ(data.board.standings.size(), static_cast<size_t>(test_support::kFixtureEntries));
  ASSERT_EQ(data.surplus.size(), data.board.standings.size());
  for (size_t i = 0; i < data.surplus.size(); ++i) {
    // Two scenarios, the failed session of each left out.
    EXPECT_EQ(data.surplus[i].size(), 2u * (kSessions - 1)) << data.board.standings[i].name;
    EXPECT_EQ(data.surplus[i].size(), data.board.standings[i].surplus.n);
  }
  ASSERT_EQ(data.scenarios.size(), 2u);
  EXPECT_EQ(data.scenarios[0].revenue.size(), 2u * (kSessions - 1));
  EXPECT_TRUE(data.has_efficiency);  // the column is there; the fixture's sessions leave it NULL
}

TEST_F(TournamentReportTest, LeaderboardRowsWhiskersAndPoints) {
  const std::string page = TournamentReport(ReadTournament(*path_, "f00d"), "t.db");
  const size_t entries = test_support::kFixtureEntries;
  EXPECT_EQ(Count(page, "<tr class=\"entry\""), entries);
  // Leaderboard whiskers per entry, revenue whiskers per scenario.
  EXPECT_EQ(Count(page, "class=\"whisker\""), entries + 2);
  EXPECT_EQ(Count(page, "class=\"session-point\""),
            entries * 2 * (kSessions - 1) + 2 * 2 * (kSessions - 1));
  EXPECT_EQ(Count(page, "class=\"box\""), entries + 2);
  EXPECT_EQ(Count(page, "<tr class=\"scenario\""), 2u);
}

TEST_F(TournamentReportTest, NamesFromTheDatabaseAreEscaped) {
  const std::string page = TournamentReport(ReadTournament(*path_, ""), "t.db");
  EXPECT_EQ(page.find(test_support::kHostileLogin), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<i>cup"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;x&lt;/script&gt;.toml"), std::string::npos);
  EXPECT_NE(page.find("Tournament demo &lt;i&gt;cup&lt;/i&gt;"), std::string::npos);
}

TEST_F(TournamentReportTest, EfficiencyIsShownWhenTheDatabaseHoldsIt) {
  const std::string copy = test_support::MakeTempDir() + "/e.db";
  test_support::WriteTournamentFixture(copy, 3);
  {
    tournament::Db db(copy, false);
    db.Exec("UPDATE session SET efficiency = 0.5 + 0.1 * seed");
  }
  const TournamentData data = ReadTournament(copy, "");
  EXPECT_TRUE(data.has_efficiency);
  EXPECT_EQ(data.scenarios[0].efficiency.size(), 4u);
  const std::string page = TournamentReport(data, "e.db");
  EXPECT_NE(page.find("<th class=\"num\">mean efficiency</th>"), std::string::npos);
  EXPECT_NE(page.find("class=\"scenario-efficiency\""), std::string::npos);
}

// One session says nothing of the spread: its row shows no interval and draws no whisker, beside
// an entry of two sessions that shows both.
TEST(TournamentReport, AnEntryOfOneSessionHasNoInterval) {
  TournamentData data;
  tournament::Standing one;
  one.lineup = "l";
  one.rank = 1;
  one.name = "Solo";
  one.surplus = {1, 5530.0, 0};
  tournament::Standing two = one;
  two.rank = 2;
  two.name = "Pair";
  two.surplus = {2, 100.0, 50.0};
  data.board.standings = {one, two};
  data.surplus = {{5530.0}, {50.0, 150.0}};
  const std::string page = TournamentReport(data, "t.db");
  EXPECT_EQ(Count(page, "class=\"whisker\""), 1u);
  EXPECT_EQ(Count(page, "class=\"mean\""), 2u);
  EXPECT_NE(page.find("<td>none</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>50 to 150</td>"), std::string::npos);
  EXPECT_EQ(page.find("5530 to 5530"), std::string::npos);
}

TEST(ReadTournament, BadDatabasesAreOneLineErrors) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/text.db", "this is not a database at all, just some text\n");
  {
    tournament::Db other(dir + "/other.db", true);
    other.Exec("CREATE TABLE x(y)");
  }
  test_support::WriteTournamentFixture(dir + "/t.db", 2);
  const struct {
    std::string path, which;
  } cases[] = {{dir + "/missing.db", ""},
               {dir + "/text.db", ""},
               {dir + "/other.db", ""},
               {dir + "/t.db", "no-such-hash"}};
  for (const auto& c : cases) {
    try {
      ReadTournament(c.path, c.which);
      ADD_FAILURE() << "read " << c.path;
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(test_support::ReadFile(dir + "/missing.db"), "");  // not created
}

}  // namespace
}  // namespace report
