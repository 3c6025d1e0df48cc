#include "buyer/link/reader.h"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "buyer/link/protocol.h"
#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;

class ReaderTest : public AgentTest {
 protected:
  std::vector<std::string> Words(int count) {
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i) words.emplace_back(GetWord(input_));
    return words;
  }
};

struct WordCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> words;  // what successive GetWord calls return ("" is the empty word)
  std::string echo;                // what they log
};

TEST_F(ReaderTest, BytesToWords) {
  using namespace std::string_literals;
  const WordCase cases[] = {
      {"newline after a word gives the marker", "accept\n", {"accept", "", ""}, "accept "},
      {"marker once per line", "a b\nc\n", {"a", "b", "", "c", "", ""}, "a b c "},
      {"newline after a space gives no marker", "a \nb\n", {"a", "b", ""}, "a b "},
      {"carriage return swallows the marker", "a\r\nb\r\n", {"a", "b", ""}, "a b "},
      {"leading newlines are plain whitespace", "\n\n  a\n", {"a", "", ""}, "a "},
      {"every POSIX space separates", "a\tb\vc\fd e", {"a", "b", "c", "d", "e", ""}, "a b c d e "},
      {"word of NUL bytes is the empty word, echoed as a space", "\0\0 y\n"s, {"", "y", ""}, " y "},
      {"NUL cuts a word's text", "x\0y z"s, {"x", "z"}, "x z "},
      {"end of input ends a word", "abc", {"abc", "", ""}, "abc "},
      {"two messages on one line",
       "end_round 1 offer g 5\n",
       {"end_round", "1", "offer", "g", "5", "", ""},
       "end_round 1 offer g 5 "},
      {"bytes above 127 are word characters", "\xe9t\xe9\n", {"\xe9t\xe9", ""}, "\xe9t\xe9 "},
  };
  for (const WordCase& c : cases) {
    for (size_t chunk : {size_t{4096}, size_t{1}, size_t{3}}) {
      SCOPED_TRACE(std::string(c.name) + " / chunk " + std::to_string(chunk));
      SetUp();
      Feed(c.bytes, chunk);
      EXPECT_EQ(Words(static_cast<int>(c.words.size())), c.words);
      EXPECT_EQ(Log(), c.echo);
    }
  }
}

TEST_F(ReaderTest, LongWordIsCutAndReaderStaysInStep) {
  std::string long_word(5000, 'w');
  for (size_t chunk : {size_t{4096}, size_t{7}}) {
    SCOPED_TRACE(chunk);
    SetUp();
    Feed(long_word + " next\n" + long_word, chunk);
    EXPECT_EQ(std::string(GetWord(input_)), std::string(WORD_BUFFER_SIZE - 1, 'w'));
    EXPECT_EQ(std::string(GetWord(input_)), "next");
    EXPECT_EQ(std::string(GetWord(input_)), "");
    EXPECT_EQ(std::string(GetWord(input_)), std::string(WORD_BUFFER_SIZE - 1, 'w'));
    EXPECT_EQ(std::string(GetWord(input_)), "");
    EXPECT_TRUE(InputRanOut());
    const std::string cut(WORD_BUFFER_SIZE - 1, 'w');
    EXPECT_EQ(Log(), cut + " next " + cut + " ");
  }
}

TEST_F(ReaderTest, ReadsBlocksAndStopsReadingAtEndOfInput) {
  std::string bytes;
  while (bytes.size() < 10000) bytes += "offer g 1500\n";
  Feed(bytes);
  while (!InputEnded()) GetWord(input_);
  const int blocks = static_cast<int>((bytes.size() + READ_BUFFER_SIZE - 1) / READ_BUFFER_SIZE);
  EXPECT_EQ(source_.reads, blocks + 1);  // the last read returned 0
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(GetWord(input_), "");
  EXPECT_EQ(source_.reads, blocks + 1);
  EXPECT_EQ(Get_Char(input_), -1);
  EXPECT_TRUE(InputRanOut());
}

TEST_F(ReaderTest, ReadErrorCountsAsEndOfInput) {
  Feed("abc def", 4);
  source_.fail_after = 1;
  EXPECT_STREQ(GetWord(input_), "abc");
  EXPECT_STREQ(GetWord(input_), "");  // "def" never arrives: the second read fails
  EXPECT_TRUE(InputEnded());
  EXPECT_EQ(source_.reads, 2);
}

TEST_F(ReaderTest, RanOutOnlyWhenAWordWasMissing) {
  Feed("1500");
  EXPECT_EQ(GetNumericParameter(input_), 1500);
  EXPECT_TRUE(InputEnded());
  EXPECT_FALSE(InputRanOut());
  EXPECT_EQ(GetNumericParameter(input_), 0);
  EXPECT_TRUE(InputRanOut());
}

TEST(ParseNumber, ConvertsLikeAtolAndSaturates) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"0", 0},
      {"42", 42},
      {"-7", -7},
      {"+7", 7},
      {"007", 7},
      {"12abc", 12},
      {"1-2", 1},
      {"abc", 0},
      {"-", 0},
      {"", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"99999999999999999999", INT32_MAX},
      {"-99999999999999999999999999", INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(ReaderTest, ReceiveMapsTagsToKinds) {
  // Written out, in kind order, so that a misspelt tag in the table fails here.
  std::string stream =
      "deny accept open_auction open_round good buyers goods offer sold sanction expulsion "
      "collision out_of_market end_round end_auction closed_market ";
  stream += "Accept acceptx accep";
  Feed(stream);
  for (MessageKind kind = 0; kind < NUM_MESSAGE_KINDS; ++kind) EXPECT_EQ(Receive(input_), kind);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Receive(input_), NO_MESSAGE);  // 3 near misses, then EOF
}

}  // namespace
