#include "wire/line_reader.h"

#include <gtest/gtest.h>

namespace wire {
namespace {

std::vector<Line> FeedAll(LineReader& reader, const std::vector<std::string>& chunks, bool finish) {
  std::vector<Line> lines;
  for (const std::string& chunk : chunks) reader.Feed(chunk, &lines);
  if (finish) reader.Finish(&lines);
  return lines;
}

TEST(LineReader, SplitsLinesAcrossChunksAndBoundsTheirLength) {
  const struct {
    const char* name;
    std::vector<std::string> chunks;
    bool finish;
    std::vector<std::pair<std::string, bool>> lines;  // text, overlong
  } cases[] = {
      {"whole lines in one chunk", {"bid\nexit\n"}, false, {{"bid", false}, {"exit", false}}},
      {"a line split over chunks",
       {"ad", "m A", " B\nb", "id\n"},
       false,
       {{"adm A B", false}, {"bid", false}}},
      {"empty lines are lines", {"\n\nbid\n"}, false, {{"", false}, {"", false}, {"bid", false}}},
      {"an unterminated rest is kept until the end", {"bid\nex"}, false, {{"bid", false}}},
      {"and given at the end", {"bid\nex"}, true, {{"bid", false}, {"ex", false}}},
      {"nothing pending at the end", {"bid\n"}, true, {{"bid", false}}},
      {"exactly the limit is whole", {"12345678\n"}, false, {{"12345678", false}}},
      {"one past the limit is overlong, cut to it",
       {"123456789\nbid\n"},
       false,
       {{"12345678", true}, {"bid", false}}},
      {"an overlong line over many chunks",
       {"1234", "5678", "9abc", "def\nbid\n"},
       false,
       {{"12345678", true}, {"bid", false}}},
      {"an overlong line cut by the end", {"123456789abc"}, true, {{"12345678", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LineReader reader(8);
    const std::vector<Line> lines = FeedAll(reader, c.chunks, c.finish);
    ASSERT_EQ(lines.size(), c.lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].text, c.lines[i].first);
      EXPECT_EQ(lines[i].overlong, c.lines[i].second);
    }
  }
}

TEST(LineReader, AMegabyteWithoutNewlineKeepsOnlyTheLimit) {
  LineReader reader(4096);
  std::vector<Line> lines;
  const std::string chunk(65536, 'x');
  for (int i = 0; i < 16; ++i) reader.Feed(chunk, &lines);
  EXPECT_TRUE(lines.empty());
  reader.Feed("\nbid\n", &lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text.size(), 4096u);
  EXPECT_TRUE(lines[0].overlong);
  EXPECT_EQ(lines[1].text, "bid");
}

}  // namespace
}  // namespace wire
