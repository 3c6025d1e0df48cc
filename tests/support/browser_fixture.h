// A test suite whose cases share one browser: started once before the suite's first case (the
// slow part), closed after its last. A case is skipped when no browser starts, or fails when
// BrowserRequired().
#ifndef TESTS_SUPPORT_BROWSER_FIXTURE_H_
#define TESTS_SUPPORT_BROWSER_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "tests/support/browser.h"

namespace test_support {

class BrowserSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  static Browser* browser_;          // null when it did not start
  static std::string* start_error_;  // why it did not start
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_BROWSER_FIXTURE_H_
