#include "gateway/gateway.h"

#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/engine.h"
#include "engine/results.h"
#include "engine/results_json.h"
#include "engine/summary.h"
#include "gateway/progress.h"
#include "session/exit_codes.h"
#include "session/intake.h"
#include "session/output_files.h"
#include "session/stamped_transcript.h"
#include "session/stepped_clock.h"
#include "session/tick_stepper.h"
#include "wire/line_reader.h"

namespace gateway {
namespace {

using market::EndReason;
using market::Engine;
using market::Nanos;

constexpr market::ClientId kAgent = 1;

// Output the agent has not taken yet, at most: past it, the agent has stopped reading. A whole
// session's messages are far less (as for marketd's default queue_limit).
constexpr size_t kOutputLimit = 1 << 20;
// How long the gateway, once its session is over, still offers the agent what it has not taken.
constexpr Nanos kFinalFlush = std::chrono::seconds(2);

// One direction of the agent's pipes.
enum class Pipe {
  kOpen,
  kClosed,  // ended: the input's end, or the output closed by the market
  kBroken,  // failed: the input could not be read, or the agent stopped reading the output
};

class Session {
 public:
  Session(const Settings& settings, AgentLink& link, const session::Clock& clock)
      : settings_(settings),
        link_(link),
        clock_(clock),
        stepper_(clock_, 1),
        engine_(settings.scenario, settings.seed),
        files_([this](const std::string& text) { Complain(text); }),
        notes_(clock_, files_.transcript()),
        show_progress_(link.ErrorIsTerminal()) {}

  int Run();

 private:
  void StartClock();
  Nanos WaitForInput();
  Nanos WaitStepped(Nanos deadline);
  void DrainDue(Nanos deadline);
  bool AgentIdle();
  struct Taken {
    size_t bytes = 0;
    size_t lines = 0;
  };
  Taken ReadInput();
  void HandleLine(const wire::Line& line);
  void Deliver();
  void Flush();
  void FlushAtTheEnd();
  void OutputBroken(const char* why);
  void CloseOutput(const char* why);
  void ShowProgress();
  void EndSession(EndReason why, const std::string& reason);
  void EndIfTheAgentIsGone();
  void Complain(const std::string& text) { link_.WriteError("RemoteControl: " + text + "\n"); }

  const Settings& settings_;
  AgentLink& link_;
  // The session's clock: the given one, moved on to a tick's deadline when stepping_ and the
  // agent has finished reacting.
  session::SteppedClock clock_;
  session::TickStepper stepper_;
  bool stepping_ = false;
  Engine engine_;
  session::OutputFiles files_;
  session::StampedTranscript notes_;
  bool show_progress_;
  std::string progress_shown_;
  wire::LineReader reader_{session::kMaxLine};

  Pipe input_ = Pipe::kOpen;
  Pipe output_ = Pipe::kOpen;
  std::string unsent_;            // written to the agent as it takes it, never waited on
  bool close_when_sent_ = false;  // the market closed the output: shut once unsent_ is out
  std::string broken_why_;        // why the output broke
  std::optional<market::Denial> denied_;
  bool ended_ = false;  // the summary and the results are out
};

int Session::Run() {
  if (!files_.Open(settings_.results_path, settings_.transcript_path)) {
    return session::kExitBadSettings;
  }
  engine_.Connect(kAgent, settings_.login);
  notes_.Event("gateway started for " + settings_.login + ", seed " +
               std::to_string(settings_.seed));
  StartClock();
  for (;;) {
    Deliver();
    if (denied_) {
      const std::string reason = market::DenialText(*denied_);
      EndSession(EndReason::kDenied, "admission refused (" + reason + ")");
      Complain("admission of " + settings_.login + " refused: " + reason);
      break;
    }
    const Engine::Stage stage = engine_.stage();
    if (stage == Engine::Stage::kLobby && (input_ != Pipe::kOpen || output_ != Pipe::kOpen)) {
      EndSession(EndReason::kClientsGone, output_ == Pipe::kOpen
                                              ? "the agent's input ended before it logged in"
                                              : "the agent left before logging in");
      Complain(engine_.results().ended_early);
      break;
    }
    EndIfTheAgentIsGone();
    if (ended_) {
      CloseOutput("session over");
      // After a market that closed, the agent closes its end once it has read everything; any
      // other end does not wait for an agent that may never do so.
      if (input_ != Pipe::kOpen || engine_.end_reason() != EndReason::kCompleted ||
          output_ == Pipe::kBroken) {
        break;
      }
    }
    notes_.Flush();
    const Nanos now = WaitForInput();
    if (engine_.stage() == Engine::Stage::kRunning) {
      engine_.Advance(now);
      ShowProgress();
    }
  }
  FlushAtTheEnd();
  if (denied_ || output_ == Pipe::kBroken) return files_.Finish(session::kExitSessionFailed);
  return files_.Finish(session::ExitStatusFor(engine_.end_reason()));
}

// The stepped clock needs the agent watched; when it cannot be, the session runs on the real
// clock and says so.
void Session::StartClock() {
  if (settings_.clock == ClockKind::kStepped) {
    std::string why;
    stepping_ = link_.WatchAgent(&why);
    if (!stepping_) {
      Complain("the stepped clock cannot watch the agent (" + why + "): the real clock runs");
    }
  }
  const char* name = ClockName(stepping_ ? ClockKind::kStepped : ClockKind::kReal);
  engine_.RecordClock(name);
  notes_.Event(std::string("clock: ") + name);
}

// A running session ends when the agent is gone; a closed market ends it as completed.
void Session::EndIfTheAgentIsGone() {
  const Engine::Stage stage = engine_.stage();
  if (stage == Engine::Stage::kRunning && (input_ != Pipe::kOpen || output_ != Pipe::kOpen)) {
    if (output_ == Pipe::kBroken) {
      EndSession(EndReason::kClientsGone, "the agent stopped reading (" + broken_why_ + ")");
    } else if (input_ == Pipe::kOpen) {
      // Only the market closes the output of a running session: after the agent's "exit".
      EndSession(EndReason::kClientExit, "the agent left with exit");
    } else {
      EndSession(EndReason::kClientsGone, "the agent's input ended");
    }
  } else if (stage == Engine::Stage::kClosed) {
    EndSession(EndReason::kCompleted, "");
  }
}

// Waits until the agent has sent something or the price in force runs out. When the deadline has
// passed, whatever the agent has already sent is still read first, so a bid written in time is
// never decided after the tick. Returns the time the engine is to be advanced to.
Nanos Session::WaitForInput() {
  const std::optional<Nanos> deadline = engine_.NextDeadline();
  if (stepping_ && deadline && input_ == Pipe::kOpen && output_ == Pipe::kOpen) {
    return WaitStepped(*deadline);
  }
  std::optional<Nanos> timeout;
  if (deadline) timeout = *deadline - clock_.Now();
  const bool output_waiting = !unsent_.empty();
  if (input_ != Pipe::kOpen) {
    if (output_waiting) {
      link_.WaitForInput(timeout, true);
      Flush();
    } else if (timeout) {
      link_.Sleep(*timeout);
    }
    return clock_.Now();
  }
  const bool input = link_.WaitForInput(timeout, output_waiting);
  Flush();
  if (input) ReadInput();
  if (deadline) DrainDue(*deadline);
  return clock_.Now();
}

// On the stepped clock: waits for input as above, and between waits asks whether the agent has
// finished reacting; once it has, the clock moves on to the deadline and the tick is decided. An
// agent still busy at the deadline gets a late tick. Returns the time to advance the engine to:
// the deadline or later once the tick has ended here, an earlier time otherwise, so that no tick
// is decided without being looked at.
Nanos Session::WaitStepped(Nanos deadline) {
  const auto idle = [this](size_t) { return AgentIdle(); };
  for (;;) {
    Flush();
    const Nanos now = clock_.Now();
    if (now >= deadline) {
      DrainDue(deadline);
      stepper_.Check(deadline, idle);
      return clock_.Now();
    }
    if (stepper_.Check(deadline, idle) == session::TickStepper::Step::kIdle) return clock_.Now();
    // What the agent sent is handled (and answered) before the next look, as on the real clock.
    if (link_.WaitForInput(stepper_.NextWait(deadline), !unsent_.empty())) {
      ReadInput();
      stepper_.Activity();
      if (clock_.Now() < deadline || input_ != Pipe::kOpen) return now;  // now < deadline
    }
  }
}

// The agent has finished reacting: the gateway holds nothing of it or for it, and the link says
// the agent has taken everything and sleeps.
bool Session::AgentIdle() { return unsent_.empty() && !reader_.partial() && link_.AgentIdle(); }

// When the deadline has passed, drains what is already there before the engine decides the
// tick, up to a budget: an agent that keeps writing cannot keep the tick from being decided.
void Session::DrainDue(Nanos deadline) {
  size_t bytes = 0;
  size_t lines = 0;
  while (input_ == Pipe::kOpen && clock_.Now() >= deadline && bytes < session::kTickReadBudget &&
         lines < session::kTickLineBudget) {
    if (!link_.WaitForInput(Nanos{0}, false)) break;
    const Taken taken = ReadInput();
    if (taken.bytes == 0 && input_ == Pipe::kOpen) break;
    bytes += taken.bytes;
    lines += taken.lines;
  }
}

Session::Taken Session::ReadInput() {
  std::string bytes;
  const AgentLink::Read read = link_.ReadInput(&bytes);
  if (read == AgentLink::Read::kAgain) return {};
  std::vector<wire::Line> lines;
  if (read == AgentLink::Read::kData) {
    reader_.Feed(bytes, &lines);
  } else {
    reader_.Finish(&lines);  // end of input, or an input that failed: the agent has gone
  }
  for (const wire::Line& line : lines) HandleLine(line);
  if (read != AgentLink::Read::kData) {
    input_ = read == AgentLink::Read::kEnd ? Pipe::kClosed : Pipe::kBroken;
    notes_.Event(read == AgentLink::Read::kEnd ? "end of input" : "input failed");
  }
  return {bytes.size(), lines.size()};
}

void Session::HandleLine(const wire::Line& line) {
  const Nanos now = clock_.Now();
  if (line.overlong) {
    session::RecordOverlong(engine_, kAgent, line, session::kMaxLine, notes_, "", "dropped");
    return;
  }
  notes_.Received(market::WithoutPassword(line.text));
  if (ended_) return;  // after the session: recorded in the transcript only
  engine_.OnLine(kAgent, line.text, now);
  if (engine_.stage() == Engine::Stage::kLobby && engine_.Admitted(kAgent)) {
    engine_.Start(now);
    ShowProgress();
  }
}

void Session::Deliver() {
  for (const market::Outgoing& out : engine_.TakeOutgoing()) {
    if (out.to != kAgent && out.to != market::kEveryone) continue;
    if (output_ != Pipe::kOpen) continue;
    if (out.close) {
      CloseOutput(engine_.stage() == Engine::Stage::kClosed ? "market closed" : "client closed");
      continue;
    }
    if (out.denial) denied_ = out.denial;
    notes_.Sent(out.line);
    unsent_ += out.line;
    unsent_ += '\n';
    if (unsent_.size() > kOutputLimit) {
      OutputBroken("output queue full");
      return;
    }
  }
  Flush();
}

// Writes what the agent takes now; never waits.
void Session::Flush() {
  while (!unsent_.empty()) {
    const std::optional<size_t> written = link_.WriteSome(unsent_);
    if (!written) {
      OutputBroken("broken pipe");
      return;
    }
    if (*written == 0) return;
    unsent_.erase(0, *written);
  }
  if (close_when_sent_) {
    close_when_sent_ = false;
    link_.CloseOutput();
  }
}

// After the session: what the agent has not taken is offered a little longer, then given up.
void Session::FlushAtTheEnd() {
  const Nanos until = clock_.Now() + kFinalFlush;
  while (!unsent_.empty() && output_ != Pipe::kBroken && clock_.Now() < until) {
    link_.WaitForInput(until - clock_.Now(), true);
    Flush();
  }
  if (!unsent_.empty() && output_ != Pipe::kBroken) OutputBroken("output not taken");
}

void Session::OutputBroken(const char* why) {
  const bool open = output_ == Pipe::kOpen;
  output_ = Pipe::kBroken;
  broken_why_ = why;
  unsent_.clear();
  notes_.Event(std::string("output failed (the agent stopped reading: ") + why + ")");
  if (open || close_when_sent_) link_.CloseOutput();
  close_when_sent_ = false;
}

void Session::CloseOutput(const char* why) {
  if (output_ != Pipe::kOpen) return;
  output_ = Pipe::kClosed;
  notes_.Event(std::string("output closed: ") + why);
  close_when_sent_ = true;
  Flush();
}

void Session::ShowProgress() {
  if (!show_progress_) return;
  const std::string text = ProgressText(engine_.progress());
  if (text == progress_shown_) return;
  // Padded to cover a longer line shown before.
  std::string line = "\r" + text;
  if (text.size() < progress_shown_.size())
    line += std::string(progress_shown_.size() - text.size(), ' ');
  link_.WriteError(line);
  progress_shown_ = text;
}

// Ends the session (early unless the market closed), writes the summary and the results.
void Session::EndSession(EndReason why, const std::string& reason) {
  if (ended_) return;
  ended_ = true;
  if (why != EndReason::kCompleted) engine_.Abandon(why, reason);
  if (stepping_) {
    engine_.RecordLateTicks(kAgent, stepper_.late_ticks(0));
    notes_.Event("stepped clock: " + std::to_string(stepper_.ticks_idle()) +
                 " ticks ended on the agent's answer, " +
                 std::to_string(stepper_.ticks_deadline()) + " at their deadline, " +
                 std::to_string(stepper_.late_ticks(0)) + " late");
  }
  const market::Results& results = engine_.results();
  notes_.Event(results.completed ? "market closed" : "session ended: " + results.ended_early);
  if (show_progress_ && !progress_shown_.empty()) {
    link_.WriteError("\r" + std::string(progress_shown_.size(), ' ') + "\r");
    progress_shown_.clear();
  }
  if (!results.auctions.empty()) link_.WriteError("\n" + market::SummaryText(results));
  if (stepping_) {
    link_.WriteError("Clock: stepped, " + std::to_string(stepper_.late_ticks(0)) +
                     " late ticks (ended at their deadline while the agent was busy).\n");
  }
  files_.WriteResults(results);
}

}  // namespace

int RunSession(const Settings& settings, AgentLink& link, const session::Clock& clock) {
  Session session(settings, link, clock);
  return session.Run();
}

int RunGateway(const Settings& settings, Descriptors fds) {
  FdLink link(fds);
  const session::SteadyClock clock;
  return RunSession(settings, link, clock);
}

}  // namespace gateway
