#include "report/session_document.h"

#include <gtest/gtest.h>

#include "report/session_data.h"

namespace report {
namespace {

TEST(SessionDocument, PicksTheSessionOfAOnePerLineFileOrTheOneDocument) {
  const std::string pretty = "{\n  \"seed\": 1,\n  \"auctions\": []\n}\n";
  const std::string lines = "{\"seed\":1}\n{\"seed\":2}\n\n{\"seed\":3}";
  const struct {
    std::string text;
    int session;
    std::string expected;
  } cases[] = {
      {pretty, 1, pretty},
      {"{\"seed\":1}\n", 1, "{\"seed\":1}"},
      {lines, 1, "{\"seed\":1}"},
      {lines, 2, "{\"seed\":2}"},
      {lines, 3, "{\"seed\":3}"},  // blank lines do not count; no newline at the end
      {"{\"seed\":1}\r\n{\"seed\":2}\r\n", 2, "{\"seed\":2}\r"},
      {"not json", 1, "not json"},  // left to the reader to refuse
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " #" + std::to_string(c.session));
    EXPECT_EQ(SessionDocument(c.text, c.session), c.expected);
  }
}

TEST(SessionDocument, ASessionTheFileDoesNotHoldIsOneLineNamingTheCount) {
  const struct {
    std::string text;
    int session;
    std::string message;
  } cases[] = {
      {"{\"seed\":1}\n{\"seed\":2}\n", 3, "session 3 asked for, but the file holds 2 sessions"},
      {"{\"seed\":1}\n", 2, "session 2 asked for, but the file holds 1 session"},
      {"{\n\"seed\": 1\n}\n", 2, "session 2 asked for, but the file holds one session"},
      {"", 2, "the file holds one session"},
      {"{\"seed\":1}\n", 0, "sessions are numbered from 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      SessionDocument(c.text, c.session);
      ADD_FAILURE() << "accepted session " << c.session;
    } catch (const InputError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace report
