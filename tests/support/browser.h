// A headless Chromium driven over the DevTools protocol on a pipe, for tests that check a page in
// a real browser. Start launches `chromium --headless --remote-debugging-pipe` with a fresh
// profile and opens one page; every call waits at most its deadline (returning false or null on
// time-out); the destructor always kills and reaps the browser and its helpers. Not thread-safe:
// one test thread drives one Browser.
#ifndef TESTS_SUPPORT_BROWSER_H_
#define TESTS_SUPPORT_BROWSER_H_

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace test_support {

// The browser program: $CHROMIUM when set, else /usr/bin/chromium.
std::string ChromiumPath();

// Whether a missing browser must fail a test rather than skip it: set when $CI is.
bool BrowserRequired();

class Browser {
 public:
  // A started browser with one blank page, or null with *error set to one line (no program, no
  // answer within timeout_seconds).
  static std::unique_ptr<Browser> Start(std::string* error, double timeout_seconds = 30);
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Navigates the page to url (file:// or http://) and waits for its load event. False on a
  // navigation error or time-out (see error()).
  bool Open(const std::string& url, double timeout_seconds = 20);

  // The value of a JavaScript expression (returned by value; promises awaited). Null when the
  // expression threw or timed out; error() says which.
  nlohmann::json Eval(const std::string& expression, double timeout_seconds = 10);

  // Console errors, uncaught exceptions and error log entries seen since the browser started,
  // one line each.
  std::vector<std::string> ConsoleErrors() const { return console_errors_; }

  // Saves a PNG of the whole page, width pixels wide (the page's height). False on failure.
  bool Screenshot(const std::string& png_path, int width = 1200, double timeout_seconds = 20);

  // The last failure, one line.
  const std::string& error() const { return error_; }

 private:
  Browser() = default;
  // Sends a command (to the page's session unless `browser_level`) and waits for its answer.
  // Null with error_ set on an error answer or time-out.
  nlohmann::json Call(const std::string& method, const nlohmann::json& params, double seconds,
                      bool browser_level = false);
  // Reads one message into *message; false at the deadline or when the pipe ends.
  bool ReadMessage(nlohmann::json* message, double seconds);
  void Note(const nlohmann::json& event);

  pid_t pid_ = -1;
  int to_browser_ = -1;
  int from_browser_ = -1;
  std::string profile_dir_;
  std::string session_id_;
  std::string buffer_;
  int64_t next_id_ = 1;
  bool loaded_ = false;
  std::vector<std::string> console_errors_;
  std::string error_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_BROWSER_H_
