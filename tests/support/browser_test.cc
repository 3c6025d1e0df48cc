#include "tests/support/browser.h"

#include <gtest/gtest.h>

#include "tests/support/browser_fixture.h"
#include "tests/support/files.h"

namespace test_support {
namespace {

class BrowserTest : public BrowserSuite {};

TEST_F(BrowserTest, OpensAFileEvaluatesAndCollectsErrors) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/page.html",
                          "<!doctype html><html><head><title>t</title></head><body>"
                          "<p class=\"x\">one</p><p class=\"x\">two</p>"
                          "<script>console.error('bad thing', 42); console.log('fine');"
                          "window.setTimeout(() => { throw new Error('late boom'); }, 0);"
                          "</script></body></html>");
  ASSERT_TRUE(browser_->Open("file://" + dir + "/page.html")) << browser_->error();
  EXPECT_EQ(browser_->Eval("document.querySelectorAll('p.x').length"), 2);
  EXPECT_EQ(browser_->Eval("document.title + '!'"), "t!");
  EXPECT_EQ(browser_->Eval("Promise.resolve([1, 'a'])"), nlohmann::json::parse("[1, \"a\"]"));
  // Wait for the timer's exception to be reported.
  browser_->Eval("new Promise(r => setTimeout(r, 50))");
  const std::vector<std::string> errors = browser_->ConsoleErrors();
  ASSERT_EQ(errors.size(), 2u) << testing::PrintToString(errors);
  EXPECT_NE(errors[0].find("bad thing 42"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("late boom"), std::string::npos) << errors[1];
}

TEST_F(BrowserTest, AThrowingExpressionGivesNullAndSaysWhy) {
  EXPECT_TRUE(browser_->Eval("(() => { throw new Error('nope'); })()").is_null());
  EXPECT_NE(browser_->error().find("nope"), std::string::npos) << browser_->error();
}

TEST_F(BrowserTest, AMissingFileFailsToOpen) {
  EXPECT_FALSE(browser_->Open("file:///nonexistent/dir/page.html", 10));
  EXPECT_FALSE(browser_->error().empty());
}

TEST_F(BrowserTest, ScreenshotIsAPngOfTheRequestedWidth) {
  const std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/p.html", "<!doctype html><body style=\"height:1500px\">x</body>");
  ASSERT_TRUE(browser_->Open("file://" + dir + "/p.html")) << browser_->error();
  ASSERT_TRUE(browser_->Screenshot(dir + "/p.png", 640)) << browser_->error();
  const std::string png = test_support::ReadFile(dir + "/p.png");
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  // The IHDR chunk: width and height, big-endian, at bytes 16 and 20.
  auto be32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
    return v;
  };
  EXPECT_EQ(be32(16), 640u);
  EXPECT_GE(be32(20), 1500u);
}

}  // namespace
}  // namespace test_support
