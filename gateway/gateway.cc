#include "gateway/gateway.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "gateway/line_reader.h"
#include "gateway/output.h"
#include "gateway/progress.h"
#include "gateway/transcript.h"
#include "engine/engine.h"
#include "engine/results_json.h"
#include "engine/summary.h"

namespace gateway {
namespace {

using market::Engine;
using market::Nanos;

constexpr market::ClientId kAgent = 1;
constexpr size_t kMaxLine = 4096;

class Session {
 public:
  Session(const Settings& settings, Descriptors fds)
      : settings_(settings),
        fds_(fds),
        engine_(settings.scenario, settings.seed),
        start_(std::chrono::steady_clock::now()),
        show_progress_(isatty(fds.err) == 1) {}

  int Run();

 private:
  Nanos Now() const {
    return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - start_);
  }
  bool OpenFiles();
  void WaitForInput();
  void ReadInput();
  void HandleLine(const Line& line);
  void Deliver();
  void CloseOutput(const char* why);
  void ShowProgress();
  void EndSession(const std::string& reason_if_early);
  void Complain(const std::string& text) { WriteAll(fds_.err, "RemoteControl: " + text + "\n"); }

  const Settings& settings_;
  Descriptors fds_;
  Engine engine_;
  std::chrono::steady_clock::time_point start_;
  bool show_progress_;
  std::string progress_shown_;
  Transcript transcript_;
  std::FILE* results_file_ = nullptr;
  LineReader reader_{kMaxLine};

  bool input_open_ = true;
  bool output_open_ = true;
  bool output_broken_ = false;
  std::string denied_;  // the deny reason, once denied
  bool session_ended_ = false;
  bool files_failed_ = false;
};

bool Session::OpenFiles() {
  if (!settings_.transcript_path.empty() && !transcript_.Open(settings_.transcript_path)) {
    Complain("cannot write the transcript file " + settings_.transcript_path + ": " +
             std::strerror(errno));
    return false;
  }
  // Opened now, so that a results file that cannot be written fails before the session, not
  // after it.
  if (!settings_.results_path.empty()) {
    results_file_ = std::fopen(settings_.results_path.c_str(), "w");
    if (results_file_ == nullptr) {
      Complain("cannot write the results file " + settings_.results_path + ": " +
               std::strerror(errno));
      return false;
    }
  }
  return true;
}

int Session::Run() {
  if (!OpenFiles()) return kExitBadSettings;
  engine_.Connect(kAgent, settings_.login);
  transcript_.Event(
      Now(), "gateway started for " + settings_.login + ", seed " + std::to_string(settings_.seed));
  for (;;) {
    Deliver();
    if (!denied_.empty()) {
      EndSession("admission refused (" + denied_ + ")");
      Complain("admission of " + settings_.login + " refused: " + denied_);
      break;
    }
    const Engine::Stage stage = engine_.stage();
    if (stage == Engine::Stage::kRunning && (!input_open_ || !output_open_)) {
      EndSession(output_broken_ ? "the agent stopped reading (broken pipe)"
                 : input_open_  ? "the agent left with exit"
                                : "the agent's input ended");
    } else if (stage == Engine::Stage::kLobby && (!input_open_ || !output_open_)) {
      EndSession(output_open_ ? "the agent's input ended before it logged in"
                              : "the agent left before logging in");
      Complain(engine_.results().ended_early);
      break;
    } else if (stage == Engine::Stage::kClosed && !session_ended_) {
      EndSession("");
    }
    if (session_ended_) {
      CloseOutput("session over");
      // After a market that closed, the agent closes its end once it has read everything; any
      // other end does not wait for an agent that may never do so.
      if (!input_open_ || !engine_.results().completed || output_broken_) break;
    }
    WaitForInput();
    if (engine_.stage() == Engine::Stage::kRunning) {
      engine_.Advance(Now());
      ShowProgress();
    }
  }
  if (!transcript_.Close()) files_failed_ = true;
  if (files_failed_) return kExitResultsLost;
  if (!denied_.empty() || output_broken_) return kExitSessionFailed;
  const market::Results& results = engine_.results();
  if (results.completed || results.ended_early == "the agent left with exit") return kExitOk;
  return kExitSessionFailed;
}

// Waits until the agent has sent something or the price in force runs out. When the deadline has
// passed, whatever the agent has already sent is still read first, so a bid written in time is
// never decided after the tick.
void Session::WaitForInput() {
  const auto deadline = engine_.NextDeadline();
  int timeout = -1;
  if (deadline) {
    const Nanos left = *deadline - Now();
    // Rounded up: waking before the deadline would only loop.
    timeout = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999'999) / 1'000'000);
  }
  if (!input_open_) {
    if (timeout > 0) poll(nullptr, 0, timeout);
    return;
  }
  pollfd fd{fds_.in, POLLIN, 0};
  int ready = poll(&fd, 1, timeout);
  if (ready < 0 && errno == EINTR) return;
  if (ready > 0) ReadInput();
  // Drain what is already there before the engine decides the tick.
  while (input_open_ && deadline && Now() >= *deadline) {
    fd.revents = 0;
    if (poll(&fd, 1, 0) <= 0) break;
    ReadInput();
  }
}

void Session::ReadInput() {
  char buffer[4096];
  const ssize_t n = read(fds_.in, buffer, sizeof buffer);
  std::vector<Line> lines;
  if (n > 0) {
    reader_.Feed(std::string_view(buffer, static_cast<size_t>(n)), &lines);
  } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
    return;
  } else {
    reader_.Finish(&lines);  // end of input, or an input that failed: the agent has gone
  }
  for (const Line& line : lines) HandleLine(line);
  if (n <= 0) {
    input_open_ = false;
    transcript_.Event(Now(), n == 0 ? "end of input" : "input failed");
  }
}

void Session::HandleLine(const Line& line) {
  const Nanos now = Now();
  if (line.overlong) {
    transcript_.Received(now, line.text.substr(0, 80) + "... (overlong line dropped)");
    engine_.RecordIgnored(kAgent, line.text, "line longer than 4096 bytes");
    engine_.RecordFault(kAgent);
    return;
  }
  transcript_.Received(now, line.text);
  if (session_ended_) return;  // after the session: recorded in the transcript only
  engine_.OnLine(kAgent, line.text, now);
  if (engine_.stage() == Engine::Stage::kLobby && engine_.Admitted(kAgent)) {
    engine_.Start(now);
    ShowProgress();
  }
}

void Session::Deliver() {
  for (const market::Outgoing& out : engine_.TakeOutgoing()) {
    if (out.to != kAgent && out.to != market::kEveryone) continue;
    if (!output_open_) continue;
    if (out.close) {
      CloseOutput(engine_.stage() == Engine::Stage::kClosed ? "market closed" : "client closed");
      continue;
    }
    if (out.line.rfind("deny ", 0) == 0) denied_ = out.line.substr(5);
    transcript_.Sent(Now(), out.line);
    if (!WriteAll(fds_.out, out.line + "\n")) {
      output_broken_ = true;
      CloseOutput("output failed (the agent stopped reading)");
    }
  }
}

void Session::CloseOutput(const char* why) {
  if (!output_open_) return;
  output_open_ = false;
  close(fds_.out);
  transcript_.Event(Now(), std::string("output closed: ") + why);
}

void Session::ShowProgress() {
  if (!show_progress_) return;
  const std::string text = ProgressText(engine_.progress());
  if (text == progress_shown_) return;
  // Padded to cover a longer line shown before.
  std::string line = "\r" + text;
  if (text.size() < progress_shown_.size())
    line += std::string(progress_shown_.size() - text.size(), ' ');
  WriteAll(fds_.err, line);
  progress_shown_ = text;
}

// Ends the session (early when `reason_if_early` is set), writes the summary and the results.
void Session::EndSession(const std::string& reason_if_early) {
  if (session_ended_) return;
  session_ended_ = true;
  if (!reason_if_early.empty()) engine_.Abandon(reason_if_early);
  const market::Results& results = engine_.results();
  transcript_.Event(Now(),
                    results.completed ? "market closed" : "session ended: " + results.ended_early);
  if (show_progress_ && !progress_shown_.empty()) {
    WriteAll(fds_.err, "\r" + std::string(progress_shown_.size(), ' ') + "\r");
    progress_shown_.clear();
  }
  if (!results.auctions.empty()) WriteAll(fds_.err, "\n" + market::SummaryText(results));
  if (results_file_ != nullptr) {
    const std::string json = market::ResultsJson(results);
    const bool written = std::fwrite(json.data(), 1, json.size(), results_file_) == json.size();
    if (std::fclose(results_file_) != 0 || !written) {
      files_failed_ = true;
      Complain("could not write the results file " + settings_.results_path);
    }
    results_file_ = nullptr;
  }
}

}  // namespace

int RunGateway(const Settings& settings, Descriptors fds) {
  Session session(settings, fds);
  return session.Run();
}

}  // namespace gateway
