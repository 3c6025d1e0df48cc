#include "tournament/file/terminal_text.h"

#include <gtest/gtest.h>

namespace tournament {
namespace {

TEST(TerminalText, EscapesEveryControlCharacterAndKeepsTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name", "plain name"},
      {"\x1b]0;owned\x07\x1b[31mred", "\\x1b]0;owned\\x07\\x1b[31mred"},
      {"two\nlines\r", "two\\nlines\\r"},
      {"back\\slash", "back\\\\slash"},
      {"\x7f", "\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // UTF-8 kept
      {"\xc2\x9b"
       "31m \xc2\x85 \xc2\xa0",
       "\\u009b31m \\u0085 \xc2\xa0"},  // C1 escaped, NBSP kept
      {"\xc2", "\xc2"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(TerminalText(text), shown) << shown;
    // Only a backslash is escaped without being a control character.
    EXPECT_EQ(HasControl(text), shown != text && text != "back\\slash") << shown;
  }
}

}  // namespace
}  // namespace tournament
