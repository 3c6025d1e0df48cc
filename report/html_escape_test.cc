#include "report/html_escape.h"

#include <gtest/gtest.h>

namespace report {
namespace {

TEST(EscapeHtml, MarkupQuotesAndBadBytes) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain login_1", "plain login_1"},
      {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
      {"a\"b' c&d", "a&quot;b&#39; c&amp;d"},
      {"&amp;", "&amp;amp;"},  // escaped once more, never taken as a reference
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 kept
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                                                     // not UTF-8
      {"\xC3", "\xEF\xBF\xBD"},                                  // cut short
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {std::string("nul\0bell\x07", 9),
       "nul\xEF\xBF\xBD"
       "bell\xEF\xBF\xBD"},  // controls
      {"tab\tline\n", "tab\tline\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeHtml(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace report
