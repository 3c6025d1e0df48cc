#include "tournament/db/leaderboard.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/files.h"
#include "tournament/db/leaderboard_format.h"
#include "tournament/db/store.h"
#include "tournament/db/totals.h"

namespace tournament {
namespace {

// A lineup of a strong and a weak built-in rival and one agent, over sessions with known
// surpluses; one more session failed (no results).
class LeaderboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.emplace(test_support::MakeTempDir() + "/t.db", true);
    TournamentFile t;
    t.hash = "h1";
    t.name = "board";
    id_ = store_->AddTournament(t, 5);
    const int64_t strong[] = {1000, 1100, 900, 1000};
    const int64_t weak[] = {-50, 40, 10, 0};
    const int64_t agent[] = {980, 1020, 1000, 1000};
    const int64_t late[] = {0, 2, 0, 5};  // stepped sessions, two of them decided by deadline
    for (uint64_t seed = 0; seed < 4; ++seed) {
      SessionRecord r = Record(seed, "completed");
      r.participants[0].surplus = weak[seed];
      r.participants[1].surplus = strong[seed];
      r.participants[2].surplus = agent[seed];
      r.participants[2].purchases = 2;
      r.participants[2].spend = 3000;
      r.participants[2].status = seed == 3 ? "crashed" : "ok";
      r.participants[2].dropped = seed == 2 ? "too many faults" : "";
      r.participants[2].late_ticks = late[seed];
      r.goods.resize(3);
      r.goods[0].outcome = "sold";
      r.revenue = 100 * static_cast<int64_t>(seed + 1);
      // The last session has no good that counts: no efficiency, which must not count as 0.
      const std::optional<double> efficiency[] = {0.9, 1.0, 0.8, std::nullopt};
      r.efficiency = efficiency[seed];
      r.top_value_share = 0.5;
      for (int64_t us = 1; us <= 100; ++us) {
        r.bids.push_back({1, "g", 10, "Agent", 0, us * 10 + static_cast<int64_t>(seed)});
      }
      ASSERT_TRUE(store_->Write(id_, r));
    }
    SessionRecord failed = Record(9, "failed");
    failed.participants[2].status = "timeout";
    failed.participants[1].surplus = -100000;  // must not count: the session has no results
    ASSERT_TRUE(store_->Write(id_, failed));
  }

  SessionRecord Record(uint64_t seed, const std::string& outcome) {
    SessionRecord r;
    r.key = {"s.toml", seed, "L"};
    r.outcome = outcome;
    r.participants.resize(3);
    r.participants[0].name = "Weak";
    r.participants[0].kind = "builtin";
    r.participants[1].name = "Strong";
    r.participants[1].kind = "builtin";
    r.participants[2].name = "Agent";
    r.participants[2].kind = "command";
    r.participants[2].strategy = "./agent --mode \"a,b\"";
    return r;
  }

  std::optional<Store> store_;
  int64_t id_ = 0;
};

// The running totals, added session by session as they were written, are what counting them
// again from every stored session gives, row for row; and so is every form of the leaderboard.
TEST_F(LeaderboardTest, RunningTotalsEqualACountOverEverySession) {
  Db& db = store_->db();
  auto totals = [&] {
    std::string out;
    for (const char* sql : {"SELECT * FROM entry_total", "SELECT * FROM scenario_total"}) {
      Statement q = db.Prepare(sql);
      while (q.Step()) {
        for (int c = 0; c < q.Columns(); ++c) out += q.Text(c) + ",";
        out += "\n";
      }
    }
    return out;
  };
  auto shown = [&] {
    const Leaderboard board = ReadLeaderboard(db, "");
    return LeaderboardTable(board) + LeaderboardCsv(board) + LeaderboardJson(board) +
           MarketsCsv(board);
  };
  const std::string running = totals(), running_board = shown();
  EXPECT_NE(
      running.find("L,2,Agent,command,./agent --mode \"a,b\",5,4,4000,4000800,8,12000,0,0,1,1,"
                   "0,1,7,2,"),
      std::string::npos)
      << running;
  RecountTotals(db, id_);
  EXPECT_EQ(totals(), running);
  EXPECT_EQ(shown(), running_board);

  // The intervals from the sums are those of the values themselves.
  const Leaderboard board = ReadLeaderboard(db, "");
  const MeanInterval strong = Interval95({1000, 1100, 900, 1000});
  EXPECT_EQ(board.standings[0].surplus.n, strong.n);
  EXPECT_DOUBLE_EQ(board.standings[0].surplus.mean, strong.mean);
  EXPECT_NEAR(board.standings[0].surplus.half_width, strong.half_width, 1e-9);
  const MeanInterval efficiency = Interval95({0.9, 1.0, 0.8});
  EXPECT_EQ(board.scenarios[0].efficiency.n, 3u);
  EXPECT_NEAR(board.scenarios[0].efficiency.mean, efficiency.mean, 1e-9);
  EXPECT_NEAR(board.scenarios[0].efficiency.half_width, efficiency.half_width, 1e-8);
}

// An entry whose sessions had ticks end at their deadline is named under the table, with how
// many ticks in how many sessions; entries without are not.
TEST_F(LeaderboardTest, TheTableSaysWhichEntriesHadLateTicks) {
  const Leaderboard board = ReadLeaderboard(store_->db(), "");
  ASSERT_EQ(board.standings[1].name, "Agent");
  EXPECT_EQ(board.standings[1].late_ticks, 7);
  EXPECT_EQ(board.standings[1].late_sessions, 2);
  const std::string table = LeaderboardTable(board);
  const size_t note = table.find("Not deterministic:");
  ASSERT_NE(note, std::string::npos) << table;
  const std::string rest = table.substr(note, table.find("\n\n", note) - note);
  EXPECT_NE(rest.find("lineup L, Agent: 7 late ticks in 2 of 4 sessions"), std::string::npos)
      << rest;
  EXPECT_EQ(rest.find("Strong"), std::string::npos) << rest;
  EXPECT_EQ(rest.find("Weak"), std::string::npos) << rest;
  const nlohmann::json json = nlohmann::json::parse(LeaderboardJson(board));
  EXPECT_EQ(json["standings"][1]["late_ticks"], 7);
  EXPECT_EQ(json["standings"][0]["late_sessions"], 0);
}

TEST_F(LeaderboardTest, RanksByMeanSurplusAndShowsWhereIntervalsMeet) {
  const Leaderboard board = ReadLeaderboard(store_->db(), "");
  EXPECT_EQ(board.stored, 5);
  ASSERT_EQ(board.standings.size(), 3u);
  const Standing& first = board.standings[0];
  const Standing& second = board.standings[1];
  const Standing& third = board.standings[2];
  EXPECT_EQ(first.name, "Strong");
  EXPECT_EQ(second.name, "Agent");
  EXPECT_EQ(third.name, "Weak");
  EXPECT_EQ(first.surplus.n, 4u);  // the failed session is left out
  EXPECT_DOUBLE_EQ(first.surplus.mean, 1000);
  EXPECT_DOUBLE_EQ(second.surplus.mean, 1000);
  // Strong: sd 81.65, t(3) 3.182 -> +-129.9; Agent: sd 16.33 -> +-26.0.
  EXPECT_NEAR(first.surplus.half_width, 129.9, 0.1);
  EXPECT_NEAR(second.surplus.half_width, 26.0, 0.1);
  EXPECT_EQ(first.overlaps, std::vector<int>{2});
  EXPECT_EQ(second.overlaps, std::vector<int>{1});
  EXPECT_TRUE(third.overlaps.empty());
  EXPECT_EQ(second.crashes, 1);
  EXPECT_EQ(second.timeouts, 1);
  EXPECT_EQ(second.dropped, 1);
  EXPECT_EQ(second.goods_won, 8);
  EXPECT_EQ(second.spend, 12000);
  // Over the 400 bids (10 * k + seed us), nearest rank.
  ASSERT_TRUE(second.response_median_us && second.response_p99_us);
  EXPECT_EQ(*second.response_median_us, 503);  // the 200th of 400
  EXPECT_EQ(*second.response_p99_us, 993);     // the 396th
  EXPECT_FALSE(first.response_median_us);
  ASSERT_EQ(board.scenarios.size(), 1u);
  EXPECT_EQ(board.scenarios[0].sessions, 5);
  EXPECT_EQ(board.scenarios[0].failed, 1);
  EXPECT_DOUBLE_EQ(board.scenarios[0].revenue.mean, 250);
  EXPECT_EQ(board.scenarios[0].goods_sold, 4);
  EXPECT_EQ(board.scenarios[0].goods_total, 12);
  const ScenarioMeasures& market = board.scenarios[0];
  EXPECT_EQ(market.efficiency.n, 3u);
  EXPECT_DOUBLE_EQ(market.efficiency.mean, 0.9);
  EXPECT_NEAR(market.efficiency.half_width, 0.248, 0.001);  // sd 0.1, t(2) 4.303
  EXPECT_EQ(market.top_value_share.n, 4u);
  EXPECT_DOUBLE_EQ(market.top_value_share.mean, 0.5);
  EXPECT_EQ(market.price_over_top.n, 0u);
}

TEST_F(LeaderboardTest, EveryFormatCarriesEveryEntry) {
  const Leaderboard board = ReadLeaderboard(store_->db(), "h1");
  const std::string csv = LeaderboardCsv(board);
  const std::vector<std::string> lines = test_support::Lines(csv);
  ASSERT_EQ(lines.size(), 4u);
  // A command with a comma and quotes stays one field.
  EXPECT_NE(lines[2].find(",\"./agent --mode \"\"a,b\"\"\","), std::string::npos) << lines[2];
  const auto commas = [](const std::string& line) {
    size_t n = 0;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      n += !quoted && c == ',' ? 1 : 0;
    }
    return n;
  };
  for (const std::string& line : lines) EXPECT_EQ(commas(line), commas(lines[0])) << line;

  const nlohmann::json json = nlohmann::json::parse(LeaderboardJson(board));
  ASSERT_EQ(json["standings"].size(), 3u);
  EXPECT_EQ(json["standings"][1]["entry"], "Agent");
  EXPECT_EQ(json["standings"][1]["resp_p99_us"], 993);
  EXPECT_EQ(json["standings"][0]["resp_p99_us"], nullptr);
  const nlohmann::json& market = json["scenarios"][0];
  EXPECT_DOUBLE_EQ(market["efficiency"]["mean"].get<double>(), 0.9);
  EXPECT_EQ(market["efficiency"]["sessions"], 3);
  EXPECT_NEAR(market["efficiency"]["ci95"][0].get<double>(), 0.652, 0.001);
  EXPECT_EQ(market["price_over_top"]["mean"], nullptr);

  // The per-scenario CSV: a header and one row, the undefined measure left blank.
  const std::vector<std::string> markets = test_support::Lines(MarketsCsv(board));
  ASSERT_EQ(markets.size(), 2u);
  EXPECT_EQ(commas(markets[1]), commas(markets[0]));
  EXPECT_EQ(markets[1].rfind("s.toml,5,1,250.0,", 0), 0u) << markets[1];
  EXPECT_NE(markets[1].find(",0.900,3,0.652,1.148,0.500,0.500,0.500,,,"), std::string::npos)
      << markets[1];

  const std::string table = LeaderboardTable(board);
  for (const char* name : {"Strong", "Agent", "Weak", "dropped", "Lineup L", "5 of 5 sessions",
                           "efficiency", "[0.652, 1.148]"}) {
    EXPECT_NE(table.find(name), std::string::npos) << name;
  }
  EXPECT_THROW(ReadLeaderboard(store_->db(), "nope"), DbError);
}

// One session of a lineup whose every text holds terminal controls: a tournament name, a lineup
// and a scenario as any program may have written them into the database.
class OneSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.emplace(test_support::MakeTempDir() + "/t.db", true);
    TournamentFile t;
    t.hash = "h2";
    t.name = kHostile;
    const int64_t id = store_->AddTournament(t, 1);
    SessionRecord r;
    r.key = {std::string("s") + kHostile, 1, std::string("L") + kHostile};
    r.outcome = "completed";
    r.revenue = 700;
    r.participants.resize(2);
    r.participants[0].name = "Agent";
    r.participants[0].kind = "command";
    r.participants[0].strategy = std::string("./agent ") + kHostile;
    r.participants[0].surplus = 5530;
    r.participants[1].name = "Vera";
    r.participants[1].kind = "builtin";
    r.participants[1].strategy = "value";
    r.participants[1].surplus = 10;
    ASSERT_TRUE(store_->Write(id, r));
  }

  static constexpr const char* kHostile = "\x1b]0;pwned\x07\x1b[31m\xc2\x9b";
  std::optional<Store> store_;
};

TEST_F(OneSessionTest, OneSessionGivesNoIntervalAndOverlapsEveryRank) {
  const Leaderboard board = ReadLeaderboard(store_->db(), "");
  ASSERT_EQ(board.standings.size(), 2u);
  EXPECT_FALSE(board.standings[0].surplus.HasInterval());
  EXPECT_EQ(board.standings[0].overlaps, std::vector<int>{2});
  EXPECT_EQ(board.standings[1].overlaps, std::vector<int>{1});

  const std::string table = LeaderboardTable(board);
  EXPECT_EQ(table.find("[5530.0, 5530.0]"), std::string::npos) << table;
  EXPECT_EQ(table.find("[700.0, 700.0]"), std::string::npos) << table;
  EXPECT_NE(table.find("none"), std::string::npos) << table;
  EXPECT_NE(table.find("Fewer than 2 sessions give no interval"), std::string::npos) << table;

  const std::vector<std::string> csv = test_support::Lines(LeaderboardCsv(board));
  ASSERT_EQ(csv.size(), 3u);
  EXPECT_NE(csv[1].find(",1,5530.0,,,2,"), std::string::npos) << csv[1];
  const std::vector<std::string> markets = test_support::Lines(MarketsCsv(board));
  ASSERT_EQ(markets.size(), 2u);
  EXPECT_NE(markets[1].find(",1,0,700.0,,,"), std::string::npos) << markets[1];

  const nlohmann::json json = nlohmann::json::parse(LeaderboardJson(board));
  EXPECT_EQ(json["standings"][0]["ci95"], nullptr);
  EXPECT_EQ(json["standings"][0]["overlaps"], nlohmann::json::array({2}));
  EXPECT_EQ(json["scenarios"][0]["ci95"], nullptr);
}

TEST_F(OneSessionTest, TheTableShowsControlCharactersEscapedAndTheDataFormatsKeepThem) {
  const Leaderboard board = ReadLeaderboard(store_->db(), "");
  const std::string table = LeaderboardTable(board);
  for (char c : table) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte != 0x7f)) << "byte " << int(byte) << "\n"
                                                             << table;
  }
  EXPECT_EQ(table.find("\xc2\x9b"), std::string::npos) << table;
  const std::string shown = "\\x1b]0;pwned\\x07\\x1b[31m\\u009b";
  for (const std::string& text : {"Tournament " + shown, "Lineup L" + shown, "s" + shown}) {
    EXPECT_NE(table.find(text), std::string::npos) << text << " in\n" << table;
  }
  // CSV and JSON carry the data itself.
  EXPECT_NE(LeaderboardCsv(board).find(std::string("./agent ") + kHostile), std::string::npos);
  const nlohmann::json json = nlohmann::json::parse(LeaderboardJson(board));
  EXPECT_EQ(json["tournament"], kHostile);
  EXPECT_EQ(json["standings"][0]["lineup"], std::string("L") + kHostile);
}

}  // namespace
}  // namespace tournament
