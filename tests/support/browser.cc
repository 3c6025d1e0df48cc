#include "tests/support/browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace test_support {
namespace {

using Json = nlohmann::json;

double SecondsLeft(test_support::Deadline deadline) {
  return std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
}

// Standard base64 as the protocol sends binary data; stops at the first byte outside it.
std::string DecodeBase64(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else {
      break;
    }
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::string Describe(const Json& remote_object) {
  if (remote_object.contains("value")) {
    const Json& v = remote_object["value"];
    return v.is_string() ? v.get<std::string>() : v.dump();
  }
  return remote_object.value("description", remote_object.value("type", std::string("?")));
}

}  // namespace

std::string ChromiumPath() {
  const char* env = std::getenv("CHROMIUM");
  return env != nullptr && *env != '\0' ? env : "/usr/bin/chromium";
}

bool BrowserRequired() { return std::getenv("CI") != nullptr; }

std::unique_ptr<Browser> Browser::Start(std::string* error, double timeout_seconds) {
  const std::string program = ChromiumPath();
  if (access(program.c_str(), X_OK) != 0) {
    *error = program + ": not found or not executable";
    return nullptr;
  }
  std::unique_ptr<Browser> browser(new Browser());
  browser->profile_dir_ = test_support::MakeTempDir();
  std::vector<std::string> args = {program,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--remote-debugging-pipe",
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-extensions",
                                   "--disable-dev-shm-usage",
                                   "--hide-scrollbars",
                                   "--mute-audio",
                                   "--user-data-dir=" + browser->profile_dir_,
                                   "about:blank"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int commands[2];
  int replies[2];
  if (pipe2(commands, O_CLOEXEC) != 0) {
    *error = "cannot make a pipe";
    return nullptr;
  }
  if (pipe2(replies, O_CLOEXEC) != 0) {
    close(commands[0]);
    close(commands[1]);
    *error = "cannot make a pipe";
    return nullptr;
  }
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) {
    // Its own process group, so the destructor ends the browser's helpers with it.
    setpgid(0, 0);
    // Out of the way of 3 and 4 first, then onto them (dup2 clears close-on-exec).
    const int in = fcntl(commands[0], F_DUPFD, 10);
    const int out = fcntl(replies[1], F_DUPFD, 10);
    if (in < 0 || out < 0 || dup2(in, 3) < 0 || dup2(out, 4) < 0) _exit(127);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
    }
    close(in);
    close(out);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(commands[0]);
  close(replies[1]);
  if (null_fd >= 0) close(null_fd);
  if (pid < 0) {
    close(commands[1]);
    close(replies[0]);
    *error = "cannot start " + program;
    return nullptr;
  }
  browser->pid_ = pid;
  browser->to_browser_ = commands[1];
  browser->from_browser_ = replies[0];

  const Json target =
      browser->Call("Target.createTarget", {{"url", "about:blank"}}, timeout_seconds, true);
  if (target.is_null() || !target.contains("targetId")) {
    *error = "the browser did not answer: " + browser->error_;
    return nullptr;
  }
  const Json attached = browser->Call(
      "Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, 10, true);
  if (attached.is_null() || !attached.contains("sessionId")) {
    *error = "cannot attach to the page: " + browser->error_;
    return nullptr;
  }
  browser->session_id_ = attached["sessionId"].get<std::string>();
  for (const char* domain : {"Page.enable", "Runtime.enable", "Log.enable"}) {
    if (browser->Call(domain, Json::object(), 10).is_null()) {
      *error = browser->error_;
      return nullptr;
    }
  }
  return browser;
}

Browser::~Browser() {
  test_support::CloseFd(&to_browser_);
  test_support::CloseFd(&from_browser_);
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!profile_dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(profile_dir_, ignored);
  }
}

bool Browser::ReadMessage(Json* message, double seconds) {
  const test_support::Deadline deadline = test_support::After(seconds);
  for (;;) {
    const size_t end = buffer_.find('\0');
    if (end != std::string::npos) {
      *message =
          Json::parse(buffer_.begin(), buffer_.begin() + static_cast<long>(end), nullptr, false);
      buffer_.erase(0, end + 1);
      if (message->is_discarded()) continue;
      return true;
    }
    const double left = SecondsLeft(deadline);
    if (left <= 0 || from_browser_ < 0) return false;
    pollfd p{from_browser_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left * 1000) + 1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char block[65536];
    const ssize_t n = read(from_browser_, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      test_support::CloseFd(&from_browser_);
      return false;
    }
    buffer_.append(block, static_cast<size_t>(n));
  }
}

void Browser::Note(const Json& event) {
  const std::string method = event.value("method", std::string());
  if (!event.contains("params")) return;
  const Json& params = event["params"];
  if (method == "Page.loadEventFired") {
    loaded_ = true;
  } else if (method == "Runtime.consoleAPICalled" && params.value("type", "") == "error") {
    std::string line = "console.error:";
    for (const Json& arg : params.value("args", Json::array())) line += " " + Describe(arg);
    console_errors_.push_back(line);
  } else if (method == "Runtime.exceptionThrown") {
    const Json details = params.value("exceptionDetails", Json::object());
    std::string text = details.value("text", std::string("exception"));
    if (details.contains("exception")) text += " " + Describe(details["exception"]);
    console_errors_.push_back("uncaught: " + text);
  } else if (method == "Log.entryAdded") {
    const Json entry = params.value("entry", Json::object());
    if (entry.value("level", "") == "error") {
      console_errors_.push_back("log: " + entry.value("text", std::string()) + " " +
                                entry.value("url", std::string()));
    }
  }
}

Json Browser::Call(const std::string& method, const Json& params, double seconds,
                   bool browser_level) {
  const int64_t id = next_id_++;
  Json command = {{"id", id}, {"method", method}, {"params", params}};
  if (!browser_level) command["sessionId"] = session_id_;
  std::string bytes = command.dump();
  bytes += '\0';
  if (to_browser_ < 0 || !test_support::WriteAll(to_browser_, bytes)) {
    error_ = method + ": the browser has gone";
    return nullptr;
  }
  const test_support::Deadline deadline = test_support::After(seconds);
  Json message;
  while (ReadMessage(&message, std::max(0.0, SecondsLeft(deadline)))) {
    if (!message.contains("id")) {
      Note(message);
      continue;
    }
    if (message["id"] != id) continue;
    if (message.contains("error")) {
      error_ = method + ": " + message["error"].value("message", std::string("error"));
      return nullptr;
    }
    return message.value("result", Json::object());
  }
  error_ = method + ": no answer within " + std::to_string(static_cast<int>(seconds)) + " s";
  return nullptr;
}

bool Browser::Open(const std::string& url, double timeout_seconds) {
  const test_support::Deadline deadline = test_support::After(timeout_seconds);
  loaded_ = false;
  const Json result = Call("Page.navigate", {{"url", url}}, timeout_seconds);
  if (result.is_null()) return false;
  if (result.contains("errorText")) {
    error_ = "cannot open " + url + ": " + result["errorText"].get<std::string>();
    return false;
  }
  Json message;
  while (!loaded_) {
    if (!ReadMessage(&message, std::max(0.0, SecondsLeft(deadline)))) {
      error_ = "no load event from " + url;
      return false;
    }
    if (!message.contains("id")) Note(message);
  }
  return true;
}

Json Browser::Eval(const std::string& expression, double timeout_seconds) {
  const Json result =
      Call("Runtime.evaluate",
           {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}},
           timeout_seconds);
  if (result.is_null()) return nullptr;
  if (result.contains("exceptionDetails")) {
    const Json& details = result["exceptionDetails"];
    error_ = "evaluation threw: " + details.value("text", std::string()) +
             (details.contains("exception") ? " " + Describe(details["exception"]) : "");
    return nullptr;
  }
  return result.contains("result") ? result["result"].value("value", Json()) : Json();
}

bool Browser::Screenshot(const std::string& png_path, int width, double timeout_seconds) {
  const test_support::Deadline deadline = test_support::After(timeout_seconds);
  auto metrics = [&](int64_t height) {
    return !Call(
                "Emulation.setDeviceMetricsOverride",
                {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}},
                std::max(0.0, SecondsLeft(deadline)))
                .is_null();
  };
  if (!metrics(800)) return false;
  const Json height = Eval("Math.ceil(document.documentElement.scrollHeight)",
                           std::max(0.0, SecondsLeft(deadline)));
  if (!height.is_number()) return false;
  if (!metrics(std::clamp<int64_t>(height.get<int64_t>(), 100, 16384))) return false;
  const Json shot =
      Call("Page.captureScreenshot", {{"format", "png"}}, std::max(0.0, SecondsLeft(deadline)));
  if (shot.is_null() || !shot.contains("data")) return false;
  std::ofstream out(png_path, std::ios::binary | std::ios::trunc);
  out << DecodeBase64(shot["data"].get<std::string>());
  out.close();
  if (!out) {
    error_ = "cannot write " + png_path;
    return false;
  }
  return true;
}

}  // namespace test_support
