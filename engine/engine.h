// The market engine: a descending-price (clock) auction house for any number of connected buyer
// agents and the scenario's simulated rivals. It knows nothing of pipes, sockets or real time: a
// driver feeds it command lines and the current time, and sends the messages it produces.
//
// Time: each price the market announces ("offer", "collision") stays in force for one tick of the
// scenario; bids received while it is in force are bids at that price. The driver calls Advance
// with a monotonic time; once the deadline has passed the engine decides that tick (at most one
// per call, so every announced price gets a whole tick even when the driver runs late) and starts
// the next. The engine never reads a clock itself.
//
// Determinism: the session depends only on the scenario, the seed and which participants bid in
// which tick.
#ifndef ENGINE_ENGINE_H_
#define ENGINE_ENGINE_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/plan.h"
#include "engine/results.h"
#include "engine/scenario.h"
#include "engine/strategies/bidder.h"

namespace market {

using Nanos = std::chrono::nanoseconds;

// A connection to the market, numbered by the driver.
using ClientId = int;
// The recipient of a broadcast: every client admitted and not yet closed when it is sent.
inline constexpr ClientId kEveryone = -1;

// Why an admission is refused: the REASON of "deny REASON" (see DenialText).
enum class Denial {
  kMalformedAdmission,
  kLoginMismatch,
  kUnknownBuyer,
  kBadPassword,
  kAlreadyAdmitted,
  kMarketRunning,
  kMarketClosed,
  kMarketFull,
  kTooManyFailures,
};

// The reason as sent on the wire: "malformed_admission", "login_mismatch", "unknown_buyer",
// "bad_password", "already_admitted", "market_running", "market_closed", "market_full",
// "too_many_failures".
const char* DenialText(Denial denial);

// How the session ended, for drivers to branch on (Results::ended_early holds the words).
enum class EndReason {
  kNotEnded,     // in the lobby or running
  kCompleted,    // the market reached closed_market
  kClientExit,   // the driver's one client left with "exit"
  kClientsGone,  // the clients' input ended or their output broke
  kDenied,       // the driver's one client was refused admission
  kInterrupted,  // the driver was told to stop
  kStopped,      // the driver stopped for a reason given only in words
};

struct Outgoing {
  ClientId to = kEveryone;
  std::string line;    // one message without its newline; empty when close is set
  bool close = false;  // the driver ends this client's output here, after the lines before it
  std::optional<Denial> denial;  // set on a "deny REASON" line, with that reason
};

struct Progress {
  int auction = 0;  // the auction in progress, 1-based; 0 before the session starts
  int auctions = 0;
  int goods_done = 0;  // in the auction in progress
  int goods_total = 0;
};

class Engine {
 public:
  enum class Stage { kLobby, kRunning, kClosed };

  Engine(const Scenario& scenario, uint64_t seed);

  // A new connection. When required_login is set, an admission under another login is denied
  // ("login_mismatch"): the gateway binds its one connection to the login it was started for.
  // `peer` names where it comes from (an address without the port), for the failed-login record
  // and its cool-down.
  void Connect(ClientId client, std::optional<std::string> required_login, std::string peer = "");

  // Failed logins (a wrong password, or an unknown login) are recorded in the results and
  // throttled: after kLoginFailures wrong passwords for one login from one peer, or kPeerFailures
  // failures from one peer, every admission for that login from that peer, or from that peer, is
  // denied "too_many_failures" for kFailureCoolDown without its password being looked at; then
  // the count starts again. The login's count is per peer, so that a guesser elsewhere cannot
  // lock its buyer out. A successful admission clears its login's count, not its peer's.
  static constexpr int kLoginFailures = 5;
  static constexpr int kPeerFailures = 20;
  static constexpr Nanos kFailureCoolDown = std::chrono::seconds(30);

  // One command line from a client, without its newline, that arrived at time `at` (the same clock
  // as Start and Advance):
  // - "admission LOGIN PASSWORD": "accept" to that client, or "deny REASON" and a close. Reasons:
  //   malformed_admission, login_mismatch, too_many_failures (see kLoginFailures),
  //   unknown_buyer, bad_password, already_admitted (the
  //   login is in use by another client), market_running, market_closed, market_full (the
  //   scenario's max_buyers are admitted). A repeated admission from an admitted client is
  //   ignored.
  // - "bid": a bid at the price in force, by an admitted buyer present and not expelled in the
  //   auction; several bids in one tick count once. The first of a buyer in a tick is recorded
  //   in the results with its arrival and its time since the price was announced (so at most one
  //   record per buyer per tick); every "bid" line from a participant is counted in its
  //   ParticipantResult, whatever became of it.
  // - "exit": the client leaves (as Disconnect) and its output is closed.
  // Anything else, and every command that cannot apply, is ignored and recorded in the results;
  // a line that is no command at all also counts as a fault of a participant.
  void OnLine(ClientId client, std::string_view line, Nanos at);
  // The same, arriving at the latest time the engine was given (by Start, Advance or a line).
  void OnLine(ClientId client, std::string_view line) { OnLine(client, line, now_); }

  // Records a line from a client that is not a command at all (e.g. one too long for the driver
  // to read whole), with the reason; it has no other effect.
  void RecordIgnored(ClientId client, std::string_view line, const char* reason);

  // Records that the driver counted a fault against the client (a line that is no command).
  void RecordFault(ClientId client);

  // Records that the driver closed the client's connection on its own, and why. Call Disconnect
  // as well for the client to leave the market.
  void RecordDrop(ClientId client, const std::string& reason);

  // The clock the driver runs the session on, for the results ("real", "stepped").
  void RecordClock(std::string name) { results_.clock = std::move(name); }
  // Adds to a participant's late ticks (ticks the stepped clock ended at their deadline while
  // its agent was still busy).
  void RecordLateTicks(ClientId client, int64_t ticks);

  // The client's input ended or its output broke. A participant leaves the market: during an
  // auction the others get a new "buyers" list without it.
  void Disconnect(ClientId client);
  // The client's connection is closed for good and its id never used again: what the engine kept
  // of the client goes, unless it is a buyer still present, so connections that come and go,
  // logged in or not, cost no memory over a session. What the results name is kept per login.
  void Forget(ClientId client);
  // How many clients the engine keeps a record of (for tests of the bound above).
  size_t clients_kept() const { return clients_.size(); }
  // How many admission records it keeps: one per login admitted, however often it came back to
  // the lobby (for tests of that bound).
  size_t participants_kept() const { return participants_.size(); }

  bool Admitted(ClientId client) const;

  // Participants admitted and still connected.
  int ParticipantsPresent() const;

  // Opens the session with the participants admitted so far: the first auction opens and its
  // first good is offered. Only from kLobby.
  void Start(Nanos now);

  // Decides the tick in force if its deadline is at or before `now`, and announces what follows:
  // the next price, or the outcome of the good and the next good, round, auction or the close.
  void Advance(Nanos now);

  // Ends the session where it stands, without further messages: the driver has no one left to
  // serve. The results record `reason`; the good under the hammer is kInterrupted, the goods not
  // yet offered stay pending.
  void Abandon(EndReason why, const std::string& reason);
  void Abandon(const std::string& reason) { Abandon(EndReason::kStopped, reason); }

  // kNotEnded until the market closes or the session is abandoned.
  EndReason end_reason() const { return end_reason_; }

  // A session nobody watches (built-in bidders only): from now on the engine produces no messages
  // at all, so a driver that reads only the results runs it as fast as the CPU allows. The
  // session and its results are the same as with messages.
  void Silence() { silent_ = true; }

  // When the price in force ends; empty unless running.
  std::optional<Nanos> NextDeadline() const;

  // The messages produced since the last call, in order.
  std::vector<Outgoing> TakeOutgoing();

  Stage stage() const { return stage_; }
  Progress progress() const;
  const Results& results() const { return results_; }
  // The results, moved out: for a driver done with the engine (results() is empty afterwards).
  Results TakeResults() { return std::exchange(results_, {}); }
  const SessionPlan& plan() const { return plan_; }

 private:
  struct Client {
    std::optional<std::string> required_login;
    int participant = -1;  // index into participants_ once admitted
    bool closed = false;
    std::string peer;
  };
  // Failed logins of one login or one peer since its last cool-down.
  struct Failures {
    int count = 0;
    Nanos cool_until{0};  // admissions are refused until then
  };
  // A login's admission, held by the client admitted last under that login. A login that leaves
  // the lobby and comes back takes up its record again, with a new place in the buyers list.
  struct Participant {
    ClientId client = 0;
    std::string login;
    bool connected = true;
    size_t member = 0;   // index into members_
    uint64_t place = 0;  // the buyers list is in the order of these (admissions so far)
  };
  // A login admitted at least once in the session.
  struct Member {
    std::string login;
    bool dropped = false;  // the driver closed one of its connections
    size_t result = 0;     // where it is written: index into results_.participants
  };
  // A buyer of the auction in progress, in buyers-list order.
  struct Buyer {
    std::string name;
    int participant = -1;  // or
    int rival = -1;
    int64_t credit = kInitialCredit;
    int sanctions = 0;      // in this auction
    bool present = true;    // not expelled and not gone
    bool bid = false;       // a participant's bid in the tick in force
    Nanos bid_at{0};        // when that bid arrived
    int64_t valuation = 0;  // its value for the good under the hammer
    size_t account = 0;     // where it is written: index into the auction's BuyerResults
  };

  // Queues a line for a client (or everyone), tagged with its denial when it is one; nothing
  // when silenced.
  void Emit(ClientId to, std::string line, std::optional<Denial> denial = std::nullopt);
  void CloseClient(ClientId client);
  void Admit(ClientId client, Client& state, std::string_view line);
  void Bid(ClientId client, const Client& state, std::string_view line, Nanos at);
  void Leave(ClientId client, Client& state);
  bool CoolingDown(std::map<std::string, Failures>& table, const std::string& key);
  void CountFailure(std::map<std::string, Failures>& table, const std::string& key, int limit);
  void RecordFailedLogin(const Client& state, const std::string& login, Denial denial);
  void ForgetBid(const Buyer& buyer);

  void OpenAuction();
  void NextGoodOrRound(Nanos now);
  void BeginGood(Nanos now);
  // Announces price_ ("offer" or "collision") and records it on the good's clock; starts a tick.
  void Announce(Nanos now, ClockStep::Kind kind);
  void ResolveTick(Nanos now);
  void Award(size_t winner, Nanos now);
  void GoodDone(Nanos now);
  // Tells every rival present how the good ended: sold to buyers_[winner] at price_, or unsold.
  void TellBidders(std::optional<size_t> winner);
  void CloseMarket();
  std::string BuyersLine() const;

  // Where the auction in progress, its good under the hammer and a buyer are written.
  AuctionResult& auction_result() { return results_.auctions.back(); }
  GoodResult& good_result() { return auction_result().goods[good_]; }
  BuyerResult& account(const Buyer& buyer) { return auction_result().buyers[buyer.account]; }
  ParticipantResult* ResultOf(ClientId client);

  const AuctionPlan& auction() const { return plan_.auctions[auction_]; }
  const Good& good() const { return auction().goods[good_]; }

  Scenario scenario_;
  SessionPlan plan_;
  Stage stage_ = Stage::kLobby;
  std::map<ClientId, Client> clients_;
  std::vector<Participant> participants_;
  uint64_t admissions_ = 0;
  std::vector<Member> members_;
  std::vector<Outgoing> outgoing_;
  Results results_;

  size_t auctions_opened_ = 0;
  size_t auction_ = 0;  // index into plan_.auctions; its size once the market has closed
  int round_ = 0;
  size_t good_ = 0;  // index into the auction's goods
  int goods_done_ = 0;
  int64_t price_ = 0;
  int collisions_ = 0;
  int tie_breaks_ = 0;
  std::vector<Buyer> buyers_;
  std::vector<BidderSlot> bidders_;  // one per rival of the plan, for the session
  std::optional<Nanos> deadline_;
  Nanos announced_{0};   // when the price in force was announced
  Nanos now_{0};         // the latest time given to the engine
  bool silent_ = false;  // no messages are produced (Silence)
  EndReason end_reason_ = EndReason::kNotEnded;
  std::map<std::string, Failures> login_failures_;  // registered login and peer
  std::map<std::string, Failures> peer_failures_;   // at most kMaxPeersWatched peers
};

}  // namespace market

#endif  // ENGINE_ENGINE_H_
