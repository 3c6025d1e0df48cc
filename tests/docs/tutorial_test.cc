// docs/tutorial.md, run: the page's command block in an empty folder, its first line pointing at
// this checkout and build, every other line as the page has it. The commands must be at most
// ten, run without error, and end with the agent checked, a leaderboard naming it and the report.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace {

using test_support::ChildResult;
using test_support::Conversation;
using test_support::Converse;
using test_support::ExitStatus;
using test_support::MakeTempDir;
using test_support::ReadFile;
using test_support::WriteFile;

// The lines of the ```sh tutorial block.
std::vector<std::string> TutorialBlock() {
  std::ifstream in(TUTORIAL_PAGE);
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0) {
      if (inside) break;
      inside = line == "```sh tutorial";
      continue;
    }
    if (inside) lines.push_back(line);
  }
  return lines;
}

// Commands a reader types: lines outside here-documents, blank lines and comments aside.
int CountCommands(const std::vector<std::string>& lines) {
  int commands = 0;
  std::string heredoc_end;
  for (const std::string& line : lines) {
    if (!heredoc_end.empty()) {
      if (line == heredoc_end) heredoc_end.clear();
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    ++commands;
    const size_t at = line.find("<<");
    if (at != std::string::npos) {
      std::string word = line.substr(at + 2);
      word.erase(0, word.find_first_not_of(" '\""));
      heredoc_end = word.substr(0, word.find_first_of(" '\""));
    }
  }
  return commands;
}

TEST(Tutorial, TheCommandsOfThePageGetTheAgentIntoATournament) {
  std::vector<std::string> lines = TutorialBlock();
  ASSERT_FALSE(lines.empty()) << "no ```sh tutorial block in " << TUTORIAL_PAGE;
  ASSERT_EQ(lines[0].rfind("export MARKET=", 0), 0u) << lines[0];
  EXPECT_LE(CountCommands(lines), 10);
  const std::string home = MakeTempDir();
  lines[0] = "export MARKET='" SOURCE_DIR "' PATH='" BIN_DIR "':$PATH";
  std::string script = "set -e\ncd '" + home + "'\n";
  for (const std::string& line : lines) script += line + "\n";
  WriteFile(home + "/tutorial.sh", script);
  Conversation nothing;
  nothing.close_input_at_once = true;
  const ChildResult run = Converse({"/bin/bash", home + "/tutorial.sh"},
                                   {"PATH=/usr/bin:/bin", "HOME=" + home}, nothing, 280);
  ASSERT_FALSE(run.timed_out);
  ASSERT_EQ(ExitStatus(run), 0) << run.out << run.err;
  EXPECT_NE(run.out.find("all checks passed"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Lineup library"), std::string::npos) << run.out;
  // The agent's row in the leaderboard: its login, then what its command shows (password masked).
  EXPECT_NE(run.out.find("Mine   MARKET_LOGIN=Mine MARKET_PASSWORD=***"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("secret"), std::string::npos) << "a password in the output";
  const std::string report = ReadFile(home + "/my-agent/report.html");
  EXPECT_NE(report.find("<html"), std::string::npos);
  EXPECT_NE(report.find("Mine"), std::string::npos);
}

}  // namespace
