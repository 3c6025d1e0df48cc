#include "marketd/market_session.h"

#include <algorithm>

#include "engine/commands.h"
#include "session/intake.h"
#include "wire/idle_line.h"

namespace marketd {

using market::ClientId;
using market::Engine;
using market::Nanos;

MarketSession::MarketSession(const market::Scenario& scenario, uint64_t seed,
                             const ServerOptions& options, const session::Clock& clock,
                             session::StampedTranscript& notes, Connections& connections)
    : scenario_(scenario),
      options_(options),
      clock_(clock),
      notes_(notes),
      connections_(connections),
      engine_(scenario, seed) {
  engine_.RecordClock("real");
}

void MarketSession::StepOn(session::SteppedClock& clock) {
  stepped_ = &clock;
  engine_.RecordClock("stepped");
}

void MarketSession::Open() {
  notes_.Event(stepped() ? "clock: stepped" : "clock: real");
  window_ends_ = clock_.Now() + std::chrono::milliseconds(scenario_.admission_window_ms);
}

void MarketSession::Connected(ClientId id, const std::string& peer) {
  open_.insert(id);
  not_admitted_[id] = clock_.Now();
  engine_.Connect(id, std::nullopt, peer);
  notes_.Event("#" + std::to_string(id) + " connected" + (peer.empty() ? "" : " from " + peer));
  const size_t room =
      static_cast<size_t>(std::max(1, options_.max_connections - market::BuyerCapacity(scenario_)));
  if (not_admitted_.size() > room) {
    // The oldest connection not logged in makes way (ids grow with time).
    Drop(not_admitted_.begin()->first, "crowded out before logging in");
  }
}

void MarketSession::Received(ClientId id, const wire::Line& line) {
  if (open_.count(id) == 0) return;
  const std::string tag = Tag(id);
  int& faults = faults_[id];
  if (line.overlong) {
    session::RecordOverlong(engine_, id, line, options_.max_line, notes_, tag, "refused");
    ++faults;
  } else if (const std::optional<uint64_t> idle = wire::ParseIdleLine(line.text);
             stepped() && idle) {
    // The relay's word, not the agent's: no command, no fault, not in the transcript.
    uint64_t& at = idle_at_[id];
    at = std::max(at, *idle);
    return;
  } else {
    // Never a password in the transcript, right or wrong.
    notes_.Received(tag + market::WithoutPassword(line.text));
    const market::Command command = market::ParseCommand(line.text);
    const market::Command::Kind kind = command.kind;
    // A line that is no command is a fault; so is any command but an admission before one.
    const bool admission = kind == market::Command::Kind::kAdmission ||
                           kind == market::Command::Kind::kMalformedAdmission;
    if (kind == market::Command::Kind::kUnknown || (!admission && !engine_.Admitted(id))) {
      ++faults;
    }
    engine_.OnLine(id, line.text, clock_.Now());
  }
  // Read before Deliver(): delivering may close the connection, and Gone() forgets its faults.
  const int refused = faults;
  if (refused >= options_.max_faults && open_.count(id) > 0) {
    Deliver();  // what the engine answered before the fault goes out first
    Drop(id, "too many faults (" + std::to_string(refused) + " lines refused)");
  }
}

void MarketSession::InputEnded(ClientId id, const std::string& why) {
  if (open_.count(id) == 0) return;
  notes_.Event(Tag(id) + why);
  engine_.Disconnect(id);
  // A buyer gone mid-session has no use for what is queued. Anyone else (a denied client that
  // closed its side, a buyer after the close) may still read it: the queue is written out first,
  // and the connection closed when it is.
  if ((engine_.Admitted(id) && engine_.stage() != Engine::Stage::kClosed) ||
      !connections_.HasUnsent(id)) {
    connections_.Close(id);
  }
}

void MarketSession::OutputFailed(ClientId id, const std::string& why) {
  if (open_.count(id) == 0) return;
  notes_.Event(Tag(id) + "output failed: " + why);
  engine_.Disconnect(id);
  connections_.Close(id);
}

void MarketSession::Gone(ClientId id) {
  open_.erase(id);
  not_admitted_.erase(id);
  bytes_sent_.erase(id);
  idle_at_.erase(id);
  faults_.erase(id);
  engine_.Forget(id);
  if (linger_ends_ && open_.empty() && !finished_) finish_due_ = true;
}

void MarketSession::Interrupt() {
  if (finished_) return;
  notes_.Event("interrupted");
  engine_.Abandon(market::EndReason::kInterrupted, "interrupted");
  Finish();
}

void MarketSession::Drop(ClientId id, const std::string& reason) {
  if (open_.count(id) == 0) return;
  notes_.Event(Tag(id) + "dropped: " + reason);
  engine_.RecordDrop(id, reason);
  engine_.Disconnect(id);
  connections_.Close(id);
}

void MarketSession::Send(ClientId id, const std::string& line) {
  if (open_.count(id) == 0) return;
  switch (connections_.Queue(id, line)) {
    case Connections::Queued::kYes:
      bytes_sent_[id] += line.size() + 1;
      break;
    case Connections::Queued::kOverflow:
      Drop(id, "output queue overflow (" + std::to_string(options_.queue_limit) + " bytes unsent)");
      break;
    case Connections::Queued::kIgnored:
      break;
  }
}

// Sends what the engine produced; a broadcast goes to every admitted connection whose output is
// open, in the order of the engine's messages.
void MarketSession::Deliver() {
  // Until nothing is left: a drop while sending makes the engine announce a new buyers list.
  for (std::vector<market::Outgoing> batch; !(batch = engine_.TakeOutgoing()).empty();) {
    DeliverBatch(batch);
  }
}

void MarketSession::DeliverBatch(const std::vector<market::Outgoing>& batch) {
  for (const market::Outgoing& out : batch) {
    if (out.close) {
      if (open_.count(out.to) > 0) connections_.EndOutput(out.to);
      continue;
    }
    if (out.to == market::kEveryone) {
      notes_.Sent("* " + out.line);
      if (watcher_ != nullptr) watcher_->Broadcast(out.line);
      // Copied: a drop for overflow removes a connection while they are walked.
      std::vector<ClientId> targets;
      for (ClientId id : open_) {
        if (engine_.Admitted(id)) targets.push_back(id);
      }
      for (ClientId id : targets) Send(id, out.line);
    } else if (open_.count(out.to) > 0) {
      notes_.Sent(Tag(out.to) + out.line);
      Send(out.to, out.line);
    }
  }
}

void MarketSession::AfterEvent() {
  if (finished_) return;
  for (auto it = not_admitted_.begin(); it != not_admitted_.end();) {
    it = engine_.Admitted(it->first) ? not_admitted_.erase(it) : std::next(it);
  }
  Deliver();
  MaybeStart();
  if (engine_.stage() == Engine::Stage::kRunning && engine_.ParticipantsPresent() == 0) {
    notes_.Event("every buyer left");
    engine_.Abandon(market::EndReason::kClientsGone, "every buyer left");
    Finish();
    return;
  }
  if (engine_.stage() == Engine::Stage::kClosed && !linger_ends_) SessionClosed();
  if (linger_ends_ && open_.empty()) Finish();
  MaybeStep();
}

bool MarketSession::Idle(ClientId id) const {
  const auto idle = idle_at_.find(id);
  if (idle == idle_at_.end()) return false;
  const auto sent = bytes_sent_.find(id);
  return sent == bytes_sent_.end() || idle->second >= sent->second;
}

bool MarketSession::AllIdle() const {
  return std::all_of(open_.begin(), open_.end(),
                     [this](ClientId id) { return !engine_.Admitted(id) || Idle(id); });
}

void MarketSession::MaybeStep() {
  if (!stepped() || finished_ || engine_.stage() != Engine::Stage::kRunning) return;
  const std::optional<Nanos> deadline = engine_.NextDeadline();
  if (deadline && clock_.Now() < *deadline && AllIdle()) stepped_->SkipTo(*deadline);
}

void MarketSession::MaybeStart() {
  if (engine_.stage() != Engine::Stage::kLobby) return;
  const int present = engine_.ParticipantsPresent();
  const bool full = present >= market::BuyerCapacity(scenario_);
  const bool window_passed = !window_ends_;
  if (!full && !(window_passed && present >= scenario_.min_buyers)) return;
  window_ends_.reset();
  started_ = true;
  session_start_ = clock_.Now();
  notes_.Event("session starts with " + std::to_string(present) + " buyers");
  engine_.Start(session_start_);
  Deliver();
}

void MarketSession::SessionClosed() {
  linger_ends_ = clock_.Now() + options_.linger;
  session_time_ = clock_.Now() - session_start_;
  notes_.Event("market closed");
  connections_.StopAccepting();
  // Connections that never logged in have nothing more coming.
  std::vector<ClientId> idle;
  for (ClientId id : open_) {
    if (!engine_.Admitted(id)) idle.push_back(id);
  }
  for (ClientId id : idle) connections_.Close(id);
}

std::optional<Nanos> MarketSession::NextWake() const {
  if (finished_) return std::nullopt;
  if (finish_due_) return clock_.Now();
  std::optional<Nanos> wake = engine_.NextDeadline();
  std::optional<Nanos> late;
  if (!not_admitted_.empty()) {
    Nanos oldest = not_admitted_.begin()->second;
    for (const auto& [id, since] : not_admitted_) oldest = std::min(oldest, since);
    late = oldest + options_.admission_timeout;
  }
  for (const std::optional<Nanos>& other : {window_ends_, linger_ends_, late}) {
    if (other && (!wake || *other < *wake)) wake = other;
  }
  return wake;
}

bool MarketSession::TickDue() const {
  const std::optional<Nanos> deadline = engine_.NextDeadline();
  return deadline && clock_.Now() >= *deadline;
}

void MarketSession::Wake() {
  if (finished_) return;
  const Nanos now = clock_.Now();
  if (finish_due_) {
    Finish();
    return;
  }
  if (window_ends_ && now >= *window_ends_ && engine_.stage() == Engine::Stage::kLobby) {
    window_ends_.reset();
  }
  if (TickDue()) {
    if (stepped()) {
      // The tick ends now: by the agents' answers when all are idle, else by its deadline, late
      // for every admitted connection still busy.
      if (AllIdle()) {
        ++ticks_idle_;
      } else {
        ++ticks_deadline_;
        for (ClientId id : open_) {
          if (engine_.Admitted(id) && !Idle(id)) engine_.RecordLateTicks(id, 1);
        }
      }
    }
    TellBids();
    engine_.Advance(now);
  }
  CloseLateAdmissions();
  if (linger_ends_ && now >= *linger_ends_) {
    notes_.Event("linger time over");
    Finish();
    return;
  }
  AfterEvent();
}

// The bids recorded since the last tick was decided are the tick's: a repeat within the tick was
// not stored, and the bid of a buyer gone before the tick was decided was taken back.
void MarketSession::TellBids() {
  const std::vector<market::BidRecord>& bids = engine_.results().bids;
  bids_told_ = std::min(bids_told_, bids.size());
  if (watcher_ != nullptr) {
    for (size_t i = bids_told_; i < bids.size(); ++i) watcher_->Bid(bids[i].buyer);
  }
  bids_told_ = bids.size();
}

void MarketSession::CloseLateAdmissions() {
  const Nanos now = clock_.Now();
  std::vector<ClientId> late;
  for (const auto& [id, since] : not_admitted_) {
    if (now >= since + options_.admission_timeout && !engine_.Admitted(id)) late.push_back(id);
  }
  const std::string reason =
      "not logged in within " + std::to_string(options_.admission_timeout.count()) + " ms";
  for (ClientId id : late) {
    not_admitted_.erase(id);
    Drop(id, reason);
  }
}

void MarketSession::Finish() {
  if (finished_) return;
  finished_ = true;
  finish_due_ = false;
  if (!linger_ends_ && started_) session_time_ = clock_.Now() - session_start_;
  if (stepped()) {
    notes_.Event("stepped clock: " + std::to_string(ticks_idle_) +
                 " ticks ended when every buyer was idle, " + std::to_string(ticks_deadline_) +
                 " at their deadline");
  }
  connections_.StopAccepting();
  const std::vector<ClientId> all(open_.begin(), open_.end());
  for (ClientId id : all) connections_.Close(id);
  if (watcher_ != nullptr) watcher_->Finished();
}

}  // namespace marketd
