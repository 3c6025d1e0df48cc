// The program as users run it: exit statuses, one-line errors, the page written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/version.h"
#include "report/report_fixtures.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace report {
namespace {

ProcessResult Report(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {MARKET_REPORT_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, {}, 30);
}

bool OneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

TEST(MarketReport, WritesTheSessionPageToAFileOrStandardOutput) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/s.json", test_support::SessionFixtureJson());
  const ProcessResult to_file = Report({dir + "/s.json", "-o", dir + "/r.html"});
  EXPECT_EQ(ExitCode(to_file), 0) << to_file.err;
  EXPECT_EQ(to_file.out, "");
  const std::string page = test_support::ReadFile(dir + "/r.html");
  EXPECT_EQ(page.rfind("<!doctype html>", 0), 0u);
  const ProcessResult to_stdout = Report({dir + "/s.json"});
  EXPECT_EQ(ExitCode(to_stdout), 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out.substr(to_stdout.out.find('\n')),
            page.substr(page.find('\n')));  // the same page
}

// market-sim --results: one session a line; --session picks one, counted from 1.
TEST(MarketReport, PicksASessionOfAOnePerLineFile) {
  const std::string dir = test_support::MakeTempDir();
  nlohmann::ordered_json doc = nlohmann::ordered_json::parse(test_support::SessionFixtureJson());
  std::string lines;
  for (int seed : {101, 102}) {
    doc["seed"] = seed;
    lines += doc.dump() + "\n";
  }
  test_support::WriteFile(dir + "/sim.jsonl", lines);
  const struct {
    std::vector<std::string> args;
    std::string title;
  } cases[] = {
      {{}, "Market session, seed 101"},
      {{"--session", "1"}, "Market session, seed 101"},
      {{"--session", "2"}, "Market session, seed 102"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {dir + "/sim.jsonl", "-o", dir + "/r.html"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Report(args);
    EXPECT_EQ(ExitCode(r), 0) << r.err;
    const std::string page = test_support::ReadFile(dir + "/r.html");
    EXPECT_NE(page.find(c.title), std::string::npos) << c.title;
    EXPECT_NE(page.find("class=\"price-clock\""), std::string::npos);
  }
  const ProcessResult beyond = Report({dir + "/sim.jsonl", "--session", "3"});
  EXPECT_EQ(ExitCode(beyond), 1);
  EXPECT_EQ(beyond.err,
            "market-report: results: session 3 asked for, but the file holds 2 sessions\n");
  EXPECT_EQ(beyond.out, "");
}

TEST(MarketReport, WritesTheTournamentPage) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteTournamentFixture(dir + "/t.db", 3);
  const ProcessResult r = Report({"--db", dir + "/t.db", "-o", dir + "/t.html"});
  EXPECT_EQ(ExitCode(r), 0) << r.err;
  EXPECT_NE(test_support::ReadFile(dir + "/t.html").find("<tr class=\"entry\""), std::string::npos);
}

TEST(MarketReport, BadInputIsExitOneWithOneLineAndNoPage) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/broken.json", "{\"auctions\": [{\"number\": 1,");
  test_support::WriteFile(dir + "/partial.json", "{\"auctions\": [{\"number\": 1}]}");
  test_support::WriteFile(dir + "/binary.json", std::string("\x00\xff\xfe{", 4));
  test_support::WriteFile(dir + "/not.db", "plain text");
  test_support::WriteFile(dir + "/huge.jsonl", "");
  std::filesystem::resize_file(dir + "/huge.jsonl", (256u << 20) + 1);  // sparse: no room taken
  const std::vector<std::vector<std::string>> cases = {
      {dir + "/huge.jsonl"},     {dir + "/broken.json"},        {dir + "/partial.json"},
      {dir + "/binary.json"},    {dir + "/missing.json"},       {dir},
      {"--db", dir + "/not.db"}, {"--db", dir + "/missing.db"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> with_output = args;
    with_output.insert(with_output.end(), {"-o", dir + "/out.html"});
    const ProcessResult r = Report(with_output);
    EXPECT_EQ(ExitCode(r), 1) << args[0] << ": " << r.err;
    EXPECT_TRUE(OneLine(r.err)) << r.err;
    EXPECT_EQ(r.err.rfind("market-report: ", 0), 0u) << r.err;
    EXPECT_EQ(test_support::ReadFile(dir + "/out.html"), "");
  }
  EXPECT_EQ(
      Report({dir + "/huge.jsonl"}).err,
      "market-report: " + dir + "/huge.jsonl: larger than 256 MiB, more than a report reads\n");
}

TEST(MarketReport, UsageErrorsAreExitTwo) {
  const std::vector<std::vector<std::string>> cases = {{},
                                                       {"a.json", "--db", "t.db"},
                                                       {"--bogus"},
                                                       {"a.json", "--tournament", "1"},
                                                       {"-o"},
                                                       {"a.json", "--session", "0"},
                                                       {"a.json", "--session", "x"},
                                                       {"--db", "t.db", "--session", "2"}};
  for (const auto& args : cases) {
    const ProcessResult r = Report(args);
    EXPECT_EQ(ExitCode(r), 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(OneLine(r.err)) << r.err;
  }
  const ProcessResult help = Report({"--help"});
  EXPECT_EQ(ExitCode(help), 0);
  EXPECT_NE(help.out.find("--db"), std::string::npos);
  const ProcessResult version = Report({"--version"});
  EXPECT_EQ(ExitCode(version), 0);
  EXPECT_EQ(version.out, std::string("market-report ") + cli::Version() + "\n");
}

TEST(MarketReport, AnUnwritableOutputIsExitThree) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/s.json", test_support::SessionFixtureJson());
  const ProcessResult r = Report({dir + "/s.json", "-o", dir + "/no/such/dir/r.html"});
  EXPECT_EQ(ExitCode(r), 3);
  EXPECT_TRUE(OneLine(r.err)) << r.err;
}

}  // namespace
}  // namespace report
