#include "wire/idle_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wire/line_reader.h"

namespace wire {
namespace {

TEST(IdleLine, OnlyTheExactFormIsTheRelaysWord) {
  EXPECT_EQ(IdleLine(1234), "~idle 1234");
  EXPECT_EQ(ParseIdleLine(IdleLine(0)), 0u);
  EXPECT_EQ(ParseIdleLine(IdleLine(18446744073709551615u)), 18446744073709551615u);
  for (const char* other : {"~idle", "~idle ", "~idle -1", "~idle 1 ", " ~idle 1", "~idle 1x",
                            "~~idle 1", "idle 1", "~IDLE 1", "~idle 18446744073709551616"}) {
    EXPECT_FALSE(ParseIdleLine(other).has_value()) << other;
  }
}

// Whatever the agent sends and however its bytes are cut up, the server reads none of its lines
// as the relay's word, and every other line arrives unchanged.
TEST(IdleLine, AnAgentCannotForgeTheWordInAnyCut) {
  const std::string agent = "~idle 99\nbid\n~idle 7\n~\nx~idle 3\n~~idle 1\n";
  const std::vector<std::string> expected = {"~~idle 99", "bid",      "~~idle 7",
                                             "~~",        "x~idle 3", "~~~idle 1"};
  for (size_t cut = 0; cut <= agent.size(); ++cut) {
    AgentEscape escape;
    std::string sent;
    escape.Escape(std::string_view(agent).substr(0, cut), &sent);
    escape.Escape(std::string_view(agent).substr(cut), &sent);
    EXPECT_TRUE(escape.at_line_start());
    LineReader reader;
    std::vector<Line> lines;
    reader.Feed(sent, &lines);
    std::vector<std::string> texts;
    for (const Line& line : lines) {
      texts.push_back(line.text);
      EXPECT_FALSE(ParseIdleLine(line.text).has_value()) << cut;
    }
    EXPECT_EQ(texts, expected) << cut;
  }
  AgentEscape escape;
  std::string sent;
  escape.Escape("bid", &sent);
  EXPECT_FALSE(escape.at_line_start());  // the relay's word must wait for the agent's newline
}

}  // namespace
}  // namespace wire
