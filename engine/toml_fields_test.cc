#include "engine/toml_fields.h"

#include <functional>

#include <gtest/gtest.h>

namespace market {
namespace {

bool Short(std::string_view text) { return !text.empty() && text.size() <= 3; }
const TextRule kShort{Short, "a string of 1 to 3 characters", "short strings"};

// Runs `read` on a reader of the document's root table; "" when it passes, else "LINE: FAULT".
std::string FaultOf(const char* document, const std::function<void(TableReader&)>& read) {
  const toml::table root = toml::parse(document);
  try {
    TableReader reader(root, "the top level");
    read(reader);
    return "";
  } catch (const FieldFault& fault) {
    return std::to_string(fault.line) + ": " + fault.what;
  }
}

TEST(TomlFields, FaultsNameTheLineAndWhatWasExpected) {
  const struct {
    const char* document;
    std::function<void(TableReader&)> read;
    std::string fault;
  } cases[] = {
      {"a = 1\nb = 2\n",
       [](TableReader& r) {
         r.Int("a", 0, 5, 0);
         r.RejectUnknownKeys();
       },
       "2: unknown key 'b' in the top level"},
      {"a = 1\nb = 9\n",
       [](TableReader& r) {
         r.Int("a", 0, 5, 0);
         r.Int("b", 0, 5, 0);
       },
       "2: b must be an integer from 0 to 5"},
      {"a = 'x'\n", [](TableReader& r) { r.RequireInt("a", 0, 5); },
       "1: a must be an integer from 0 to 5"},
      {"\n\nx = 1\n", [](TableReader& r) { r.RequireInt("a", 0, 5); },
       "1: missing key 'a' in the top level"},
      {"a = 1\np = [3, 2]\n",
       [](TableReader& r) {
         r.Pair("p", 0, 9, {0, 0});
       },
       "2: p must be a pair [low, high] of an integer from 0 to 9, low <= high"},
      {"t = 'long'\n", [](TableReader& r) { r.RequireText("t", kShort); },
       "1: t must be a string of 1 to 3 characters"},
      {"a = 1\nl = 'ab'\n", [](TableReader& r) { r.Texts("l", {}, false, kShort); },
       "2: l must be an array of short strings"},
      {"l = []\n", [](TableReader& r) { r.Texts("l", {}, false, kShort); },
       "1: l must not be empty"},
      {"l = ['ab', 'abcd']\n", [](TableReader& r) { r.Texts("l", {}, true, kShort); },
       "1: l must be a string of 1 to 3 characters"},
      {"a = 1\nt = 5\n", [](TableReader& r) { r.Tables("t"); },
       "2: [[t]] must be an array of tables"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(FaultOf(c.document, c.read), c.fault);
  }
}

TEST(TomlFields, ValuesAndFallbacks) {
  const toml::table root = toml::parse("n = 4\np = [1, 2]\nl = []\n[[t]]\nx = 1\n[[t]]\nx = 2\n");
  TableReader r(root, "the top level");
  EXPECT_EQ(r.Int("n", 0, 5, 9), 4);
  EXPECT_EQ(r.Int("absent", 0, 5, 9), 9);
  EXPECT_EQ(r.Pair("p", 0, 5, {0, 0}), std::make_pair(int64_t{1}, int64_t{2}));
  EXPECT_EQ(r.Pair("q", 0, 5, {3, 4}), std::make_pair(int64_t{3}, int64_t{4}));
  EXPECT_TRUE(r.Texts("l", {"d"}, true, kShort).empty());
  EXPECT_EQ(r.Texts("m", {"d"}, true, kShort), std::vector<std::string>{"d"});
  const std::vector<const toml::table*> tables = r.Tables("t");
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[1]->get("x")->value<int64_t>(), 2);
  EXPECT_NO_THROW(r.RejectUnknownKeys());  // every key was asked for, the absent ones too
}

}  // namespace
}  // namespace market
