#include "tournament/db/json_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "tournament/db/sqlite_db.h"

namespace tournament {
namespace {

// What SQLite's JSON functions, the packed columns' only readers, make of the text's first
// element; NULL for JSON null; empty when SQLite does not take the text as JSON.
std::optional<std::string> ReadBack(Db& db, std::string_view json) {
  Statement q = db.Prepare("SELECT json_valid(?1), json_extract(?1, '$[0]')");
  q.Bind(1, json);
  q.Step();
  if (q.Int(0) != 1) return std::string("<invalid>");
  if (q.IsNull(1)) return std::nullopt;
  return q.Text(1);
}

TEST(JsonText, StringsComeBackByteForByte) {
  Db db(":memory:", true);
  const std::string cases[] = {
      "",
      "plain",
      "say \"hi\"",
      "back\\slash",
      "line\nbreak\ttab\r",
      "\x01\x1f\x7f",
      "caf\xc3\xa9",        // UTF-8
      "bad \xff\xfe tail",  // not UTF-8: kept as it is
      std::string(5000, '"'),
  };
  for (const std::string& text : cases) {
    JsonText json;
    json.OpenArray().String(text).CloseArray();
    EXPECT_EQ(ReadBack(db, json.text()), text) << json.text();
  }
  // SQLite's JSON functions end a string at a NUL, so one is written as U+FFFD: what follows it
  // is kept.
  JsonText json;
  json.OpenArray().String(std::string("nul\0byte", 8)).CloseArray();
  EXPECT_EQ(ReadBack(db, json.text()),
            "nul\xef\xbf\xbd"
            "byte");
}

TEST(JsonText, NumbersNullsAndNesting) {
  Db db(":memory:", true);
  JsonText a, b, c, d, e;
  a.OpenArray().Int(std::numeric_limits<int64_t>::min()).Int(1).CloseArray();
  b.OpenArray().Int(std::numeric_limits<int64_t>::max()).CloseArray();
  c.OpenArray().Real(0.1).Real(2).CloseArray();
  d.OpenArray().Real(std::numeric_limits<double>::quiet_NaN()).CloseArray();
  e.OpenArray().Maybe(std::optional<int>()).Maybe(std::optional<int>(7)).CloseArray();
  EXPECT_EQ(ReadBack(db, a.text()), "-9223372036854775808");
  EXPECT_EQ(ReadBack(db, b.text()), "9223372036854775807");
  EXPECT_EQ(ReadBack(db, c.text()), "0.1");
  EXPECT_EQ(ReadBack(db, d.text()), std::nullopt);
  EXPECT_EQ(ReadBack(db, e.text()), std::nullopt);
  EXPECT_EQ(e.text(), "[null,7]");

  JsonText nested;
  nested.OpenArray().OpenArray().Int(1).OpenObject().Key("k").Int(2).Key("q\"").Bool(true);
  nested.CloseObject().CloseArray().OpenArray().CloseArray().String("x").CloseArray();
  EXPECT_EQ(nested.text(), R"([[1,{"k":2,"q\"":1}],[],"x"])");
  EXPECT_EQ(ReadBack(db, nested.text()), R"([1,{"k":2,"q\"":1}])");
  EXPECT_EQ(nested.Take(), R"([[1,{"k":2,"q\"":1}],[],"x"])");
  EXPECT_EQ(nested.text(), "");  // taken
}

}  // namespace
}  // namespace tournament
