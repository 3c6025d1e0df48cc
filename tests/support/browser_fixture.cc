#include "tests/support/browser_fixture.h"

namespace test_support {

Browser* BrowserSuite::browser_ = nullptr;
std::string* BrowserSuite::start_error_ = nullptr;

void BrowserSuite::SetUpTestSuite() {
  std::string error;
  browser_ = Browser::Start(&error).release();
  if (browser_ == nullptr) start_error_ = new std::string(error);
}

void BrowserSuite::TearDownTestSuite() {
  delete browser_;
  browser_ = nullptr;
  delete start_error_;
  start_error_ = nullptr;
}

void BrowserSuite::SetUp() {
  if (browser_ != nullptr) return;
  if (BrowserRequired()) FAIL() << "no browser: " << *start_error_;
  GTEST_SKIP() << "no browser: " << *start_error_;
}

}  // namespace test_support
