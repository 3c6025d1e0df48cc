// The gateway's session rules in process: a scripted agent on a clock the test moves, so every
// ending, exit status and tick boundary is exact and nothing waits on real time.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/scenario.h"
#include "gateway/gateway.h"
#include "session/exit_codes.h"
#include "tests/support/files.h"
#include "tests/support/scenario_text.h"

namespace gateway {
namespace {

using session::ManualClock;
using session::Nanos;
using std::chrono::milliseconds;
using test_support::GoodToml;
using test_support::UnwantedGood;
using test_support::UnwantedGoodSession;
using test_support::WantedGood;

// An agent whose input is a timetable of bytes, ends and failures, and which may answer what it
// reads after a delay. Moves the clock to the next input whenever the gateway waits.
class ScriptedAgent : public AgentLink {
 public:
  using Respond = std::function<std::string(const std::string& line)>;

  explicit ScriptedAgent(ManualClock& clock) : clock_(clock) {}

  void Send(Nanos at, std::string bytes) { Add({at, Read::kData, std::move(bytes)}); }
  void End(Nanos at) { Add({at, Read::kEnd, ""}); }
  void Fail(Nanos at) { Add({at, Read::kFailed, ""}); }
  void Answer(Nanos delay, Respond respond) {
    delay_ = delay;
    respond_ = std::move(respond);
  }
  void StopReadingAfter(int lines) { read_limit_ = lines; }
  // After `lines` lines the agent lives on but reads no more: its output stays full.
  void StallAfter(int lines) {
    read_limit_ = lines;
    stall_ = true;
  }
  // From `from` to `until` the agent writes without pause: each read returns `chunk` and costs
  // `cost` on the clock, and input is always waiting.
  void Flood(Nanos from, Nanos until, std::string chunk, Nanos cost) {
    flood_ = {from, until, std::move(chunk), cost};
  }
  // For the stepped clock: the agent can be watched; it is idle when it has read every line
  // written to it, its answers are all sent and the gateway has read them.
  void Watchable() { watchable_ = true; }
  // When each line was written to the agent.
  std::vector<std::pair<Nanos, std::string>> written;

  bool WatchAgent(std::string* why) override {
    if (!watchable_) return AgentLink::WatchAgent(why);
    return true;
  }
  bool AgentIdle() override {
    if (!watchable_ || (read_limit_ >= 0 && lines_read_ >= read_limit_)) return false;
    if (!inputs_.empty() && inputs_.front().at <= clock_.Now()) return false;  // not read yet
    return std::all_of(answers_.begin(), answers_.end(),
                       [this](Nanos at) { return at <= clock_.Now(); });
  }

  bool WaitForInput(std::optional<Nanos> timeout, bool) override {
    if (++waits_ > 100'000) {
      ADD_FAILURE() << "the gateway keeps waiting";
      inputs_.insert(inputs_.begin(), {clock_.Now(), Read::kEnd, ""});
    }
    if (!inputs_.empty() && inputs_.front().at <= clock_.Now()) return true;
    if (Flooding()) return true;
    if (inputs_.empty() || (timeout && clock_.Now() + *timeout < inputs_.front().at)) {
      if (!timeout) {
        ADD_FAILURE() << "the gateway waits for input that never comes";
        inputs_.push_back({clock_.Now(), Read::kEnd, ""});
        return true;
      }
      clock_.Advance(*timeout);
      return false;
    }
    clock_.Set(inputs_.front().at);
    return true;
  }
  void Sleep(Nanos timeout) override { clock_.Advance(timeout); }
  Read ReadInput(std::string* bytes) override {
    if ((inputs_.empty() || inputs_.front().at > clock_.Now()) && Flooding()) {
      *bytes += flood_.chunk;
      clock_.Advance(flood_.cost);
      return Read::kData;
    }
    if (inputs_.empty() || inputs_.front().at > clock_.Now()) return Read::kAgain;
    const Input input = inputs_.front();
    inputs_.erase(inputs_.begin());
    *bytes += input.bytes;
    return input.kind;
  }
  std::optional<size_t> WriteSome(std::string_view bytes) override {
    EXPECT_FALSE(closed_at) << "written after the close: " << bytes;
    size_t taken = 0;
    while (taken < bytes.size()) {
      if (read_limit_ >= 0 && lines_read_ >= read_limit_) {
        if (stall_ || taken > 0) break;
        return std::nullopt;  // a broken pipe
      }
      const size_t end = bytes.find('\n', taken);
      const size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
      const std::string line(
          bytes.substr(taken, (end == std::string_view::npos ? bytes.size() : end) - taken));
      out += bytes.substr(taken, next - taken);
      taken = next;
      ++lines_read_;
      written.emplace_back(clock_.Now(), line);
      if (respond_) {
        const std::string answer = respond_(line);
        if (!answer.empty()) {
          Send(clock_.Now() + delay_, answer);
          answers_.push_back(clock_.Now() + delay_);
        }
      }
    }
    return taken;
  }
  void CloseOutput() override {
    EXPECT_FALSE(closed_at) << "closed twice";
    closed_at = clock_.Now();
  }
  void WriteError(std::string_view text) override { err += text; }
  bool ErrorIsTerminal() const override { return false; }

  std::string out;
  std::string err;
  std::optional<Nanos> closed_at;

 private:
  struct Input {
    Nanos at;
    Read kind;
    std::string bytes;
  };
  struct FloodPlan {
    Nanos from{0};
    Nanos until{0};
    std::string chunk;
    Nanos cost{0};
  };
  bool Flooding() const { return clock_.Now() >= flood_.from && clock_.Now() < flood_.until; }
  void Add(Input input) {
    auto later = std::upper_bound(inputs_.begin(), inputs_.end(), input.at,
                                  [](Nanos at, const Input& i) { return at < i.at; });
    inputs_.insert(later, std::move(input));
  }

  ManualClock& clock_;
  std::vector<Input> inputs_;
  Respond respond_;
  Nanos delay_{0};
  int read_limit_ = -1;
  int lines_read_ = 0;
  bool stall_ = false;
  FloodPlan flood_;
  int waits_ = 0;
  bool watchable_ = false;
  std::vector<Nanos> answers_;  // when each answer is written
};

constexpr Nanos Ms(int64_t ms) { return milliseconds(ms); }

const std::string kAdmission = "admission CLogin TGatekeep\n";

Settings MakeSettings(int tick_ms, const std::string& goods, const std::string& dir) {
  const std::string text = "tick_ms = " + std::to_string(tick_ms) +
                           "\nprice_step = 100\n[[registry]]\nlogin = \"CLogin\"\npassword = "
                           "\"TGatekeep\"\n[[auctions]]\ngoods = [" +
                           goods + "]\n";
  market::ScenarioLoad load = market::ParseScenario(text, "test.toml");
  EXPECT_TRUE(load.scenario.has_value()) << load.error.ToString();
  Settings settings;
  settings.login = "CLogin";
  settings.scenario = load.scenario.value_or(market::Scenario{});
  settings.seed = 1;
  settings.results_path = dir + "/results.json";
  settings.transcript_path = dir + "/transcript.txt";
  return settings;
}

// Nobody wants g1 (resale below every price): two offers of a tick each, then the market closes.
const std::string kUnwanted = UnwantedGood();
const std::string kUnwantedSession = UnwantedGoodSession();
const std::string kUntilFirstOffer =
    "accept\nopen_auction 1\nbuyers CLogin\ngoods g1 k s 300 200\nopen_round 1\n"
    "good g1 k s 300 200\noffer g1 300\n";

TEST(GatewaySession, EndingsGiveTheirStatusResultsAndComplaints) {
  const struct {
    const char* name;
    std::function<void(ScriptedAgent&)> script;
    int status;
    std::string out;
    std::string ended;  // the transcript's note of the end
    std::string err;    // the gateway's complaint, if any
  } cases[] = {
      {"the market closes, then the agent hangs up",
       [](ScriptedAgent& a) {
         a.Send(Ms(0), kAdmission);
         a.End(Ms(5000));
       },
       session::kExitOk, kUnwantedSession, "market closed", ""},
      {"the agent leaves with exit in the first tick",
       [](ScriptedAgent& a) {
         a.Send(Ms(0), kAdmission);
         a.Send(Ms(50), "exit\n");
       },
       session::kExitOk, kUntilFirstOffer, "session ended: the agent left with exit", ""},
      {"the agent's input ends mid-session",
       [](ScriptedAgent& a) {
         a.Send(Ms(0), kAdmission);
         a.End(Ms(50));
       },
       session::kExitSessionFailed, kUntilFirstOffer, "session ended: the agent's input ended", ""},
      {"the agent's input fails mid-session",
       [](ScriptedAgent& a) {
         a.Send(Ms(0), kAdmission);
         a.Fail(Ms(150));
       },
       session::kExitSessionFailed, kUntilFirstOffer + "offer g1 200\n",
       "session ended: the agent's input ended", ""},
      {"the agent stops reading",
       [](ScriptedAgent& a) {
         a.Send(Ms(0), kAdmission);
         a.StopReadingAfter(3);
       },
       session::kExitSessionFailed, "accept\nopen_auction 1\nbuyers CLogin\n",
       "session ended: the agent stopped reading (broken pipe)", ""},
      {"admission denied", [](ScriptedAgent& a) { a.Send(Ms(0), "admission CLogin wrong\n"); },
       session::kExitSessionFailed, "deny bad_password\n",
       "session ended: admission refused (bad_password)",
       "RemoteControl: admission of CLogin refused: bad_password\n"},
      {"input ends before the agent logs in", [](ScriptedAgent& a) { a.End(Ms(0)); },
       session::kExitSessionFailed, "",
       "session ended: the agent's input ended before it logged in",
       "RemoteControl: the agent's input ended before it logged in\n"},
      {"exit before logging in", [](ScriptedAgent& a) { a.Send(Ms(0), "exit\n"); },
       session::kExitSessionFailed, "", "session ended: the agent left before logging in",
       "RemoteControl: the agent left before logging in\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = test_support::MakeTempDir();
    const Settings settings = MakeSettings(100, kUnwanted, dir);
    ManualClock clock;
    ScriptedAgent agent(clock);
    c.script(agent);
    EXPECT_EQ(RunSession(settings, agent, clock), c.status);
    EXPECT_EQ(agent.out, c.out);
    const std::string transcript = test_support::ReadFile(dir + "/transcript.txt");
    EXPECT_NE(transcript.find(" ! " + c.ended + "\n"), std::string::npos) << transcript;
    // The complaint comes first on the error channel (before any summary), as one line.
    EXPECT_EQ(agent.err.substr(0, c.err.size()), c.err) << agent.err;
    const std::string results = test_support::ReadFile(dir + "/results.json");
    const bool completed = c.ended == "market closed";
    EXPECT_NE(results.find(completed ? "\"completed\": true" : "\"completed\": false"),
              std::string::npos)
        << results;
  }
}

TEST(GatewaySession, AClosedMarketWaitsForTheAgentToHangUp) {
  const std::string dir = test_support::MakeTempDir();
  const Settings settings = MakeSettings(100, kUnwanted, dir);
  ManualClock clock;
  ScriptedAgent agent(clock);
  agent.Send(Ms(0), kAdmission);
  agent.Send(Ms(4000), "bid\n");  // after the session: in the transcript only
  agent.End(Ms(5000));
  EXPECT_EQ(RunSession(settings, agent, clock), session::kExitOk);
  ASSERT_TRUE(agent.closed_at.has_value());
  EXPECT_EQ(*agent.closed_at, Ms(200));  // two ticks: the market closes at once after them
  EXPECT_EQ(clock.Now(), Ms(5000));      // and the gateway waited for the end of input
  EXPECT_NE(test_support::ReadFile(dir + "/transcript.txt").find("4.000000 < bid\n"),
            std::string::npos);
}

TEST(GatewaySession, OutputFilesThatFailGiveStatus2Or3) {
  const std::string dir = test_support::MakeTempDir();
  const struct {
    const char* name;
    std::string results;
    std::string transcript;
    int status;
    std::string err;  // the first line on the error channel
    bool session_runs;
  } cases[] = {
      {"results folder missing", dir + "/no/r.json", "", session::kExitBadSettings,
       "RemoteControl: cannot write the results file " + dir +
           "/no/r.json: No such file or directory\n",
       false},
      {"transcript folder missing", "", dir + "/no/t.txt", session::kExitBadSettings,
       "RemoteControl: cannot write the transcript file " + dir +
           "/no/t.txt: No such file or directory\n",
       false},
      {"results on a full device", "/dev/full", "", session::kExitResultsLost,
       "RemoteControl: could not write the results file /dev/full\n", true},
      {"transcript on a full device", "", "/dev/full", session::kExitResultsLost,
       "RemoteControl: could not write the transcript file /dev/full\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Settings settings = MakeSettings(100, kUnwanted, dir);
    settings.results_path = c.results;
    settings.transcript_path = c.transcript;
    ManualClock clock;
    ScriptedAgent agent(clock);
    agent.Send(Ms(0), kAdmission);
    agent.End(Ms(5000));
    EXPECT_EQ(RunSession(settings, agent, clock), c.status);
    EXPECT_EQ(agent.out, c.session_runs ? kUnwantedSession : "");
    EXPECT_NE(agent.err.find(c.err), std::string::npos) << agent.err;
    if (!c.session_runs) {
      EXPECT_EQ(agent.err, c.err);
    }
  }
}

// A bid counts at the price in force when it arrives: one that arrives by the tick's deadline is
// read before the tick is decided, one a moment later is a bid at the next price.
TEST(GatewaySession, BidsCountAtThePriceInForceWhenTheyArrive) {
  const std::string wanted = WantedGood();
  const struct {
    int64_t delay_ms;  // from the first offer to the agent's bid
    std::string sale;
  } cases[] = {
      {0, "sold CLogin 1000"},   {99, "sold CLogin 1000"},
      {100, "sold CLogin 1000"},  // at the deadline: still read before the tick is decided
      {101, "sold CLogin 900"},  {250, "sold CLogin 800"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    const std::string dir = test_support::MakeTempDir();
    ManualClock clock;
    ScriptedAgent agent(clock);
    agent.Send(Ms(0), kAdmission);
    bool bid = false;
    agent.Answer(Ms(c.delay_ms), [&](const std::string& line) {
      if (line.rfind("offer ", 0) != 0 || bid) return std::string();
      bid = true;
      return std::string("bid\n");
    });
    agent.End(Ms(60'000));
    EXPECT_EQ(RunSession(MakeSettings(100, wanted, dir), agent, clock), session::kExitOk);
    EXPECT_NE(agent.out.find("\n" + c.sale + "\n"), std::string::npos) << agent.out;
  }
}

// The same bids on the stepped clock: a tick ends as soon as the agent has answered (or has
// nothing to answer), so the clock jumps over the rest of it; a bid written in time sells at the
// same price as on the real clock, and every tick the agent kept to its deadline is a late tick.
TEST(GatewaySession, OnTheSteppedClockTicksEndOnTheAgentsAnswer) {
  const std::string wanted = WantedGood();
  const struct {
    int64_t delay_ms;  // from the first offer to the agent's bid
    std::string sale;
    int64_t late_ticks;
  } cases[] = {
      {0, "sold CLogin 1000", 0},   {99, "sold CLogin 1000", 0},
      {100, "sold CLogin 1000", 0},  // at the deadline: read before the tick is decided
      {101, "sold CLogin 900", 1},  {250, "sold CLogin 800", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    const std::string dir = test_support::MakeTempDir();
    ManualClock clock;
    ScriptedAgent agent(clock);
    agent.Watchable();
    agent.Send(Ms(0), kAdmission);
    bool bid = false;
    agent.Answer(Ms(c.delay_ms), [&](const std::string& line) {
      if (line.rfind("offer ", 0) != 0 || bid) return std::string();
      bid = true;
      return std::string("bid\n");
    });
    agent.End(Ms(60'000));
    Settings settings = MakeSettings(100, wanted, dir);
    settings.clock = ClockKind::kStepped;
    EXPECT_EQ(RunSession(settings, agent, clock), session::kExitOk);
    EXPECT_NE(agent.out.find("\n" + c.sale + "\n"), std::string::npos) << agent.out;
    // The sale is announced as soon as the agent's bid is in: no tick waits out its deadline
    // once the agent has answered.
    const auto sale = std::find_if(agent.written.begin(), agent.written.end(),
                                   [&](const auto& w) { return w.second == c.sale; });
    ASSERT_NE(sale, agent.written.end());
    EXPECT_LT(sale->first, Ms(c.delay_ms) + Ms(1));
    const std::string results = test_support::ReadFile(dir + "/results.json");
    EXPECT_NE(results.find("\"session_clock\": \"stepped\""), std::string::npos) << results;
    EXPECT_NE(results.find("\"late_ticks\": " + std::to_string(c.late_ticks) + ","),
              std::string::npos)
        << results;
    EXPECT_NE(agent.err.find("Clock: stepped, " + std::to_string(c.late_ticks) + " late ticks"),
              std::string::npos)
        << agent.err;
    EXPECT_NE(test_support::ReadFile(dir + "/transcript.txt").find("clock: stepped"),
              std::string::npos);
  }
}

// An agent that stops reading keeps every tick to its deadline, each one late; a link that
// cannot watch its agent runs the real clock and says so.
TEST(GatewaySession, TheSteppedClockNeverWaitsPastADeadlineAndSaysWhenItCannotRun) {
  for (const bool watchable : {true, false}) {
    SCOPED_TRACE(watchable);
    const std::string dir = test_support::MakeTempDir();
    ManualClock clock;
    ScriptedAgent agent(clock);
    if (watchable) agent.Watchable();
    agent.Send(Ms(0), kAdmission);
    agent.StallAfter(7);  // up to the first offer
    agent.End(Ms(60'000));
    Settings settings = MakeSettings(100, kUnwanted, dir);
    settings.clock = ClockKind::kStepped;
    RunSession(settings, agent, clock);
    const std::string results = test_support::ReadFile(dir + "/results.json");
    if (watchable) {
      EXPECT_NE(results.find("\"session_clock\": \"stepped\""), std::string::npos);
      // Two offers, each a tick kept to its deadline.
      EXPECT_NE(results.find("\"late_ticks\": 2,"), std::string::npos) << results;
      EXPECT_EQ(agent.err.find("cannot watch"), std::string::npos) << agent.err;
    } else {
      EXPECT_NE(results.find("\"session_clock\": \"real\""), std::string::npos);
      EXPECT_NE(results.find("\"late_ticks\": null"), std::string::npos);
      EXPECT_NE(agent.err.find("RemoteControl: the stepped clock cannot watch the agent (this "
                               "link cannot watch its agent): the real clock runs\n"),
                std::string::npos)
          << agent.err;
    }
    // Either way the market closed on the clock's own time.
    EXPECT_NE(results.find("\"completed\": true"), std::string::npos) << results;
  }
}

}  // namespace
}  // namespace gateway

namespace gateway {
namespace {

// An agent that never stops writing "bid" lines, on a good priced above its credit (it wins,
// cannot pay, is sanctioned and expelled, and floods on): the clock keeps its pace, since only a
// bounded read happens once a deadline has passed, and the results keep one bid per tick at most.
TEST(HostileAgent, AFloodOfBidsNeitherStopsTheClockNorGrowsTheResults) {
  const std::string dear = GoodToml("g1", 50100, 60000, 49500);
  const std::string dir = test_support::MakeTempDir();
  ManualClock clock;
  ScriptedAgent agent(clock);
  agent.Send(Ms(0), kAdmission);
  std::string chunk;
  for (int i = 0; i < 4096; ++i) chunk += "bid\n";
  agent.Flood(Ms(1), Ms(2000), chunk, Ms(1));
  agent.End(Ms(60'000));
  EXPECT_EQ(RunSession(MakeSettings(100, dear, dir), agent, clock), session::kExitOk);

  std::vector<Nanos> ticks;
  for (const auto& [at, line] : agent.written) {
    if (line.rfind("offer ", 0) == 0 || line.rfind("out_of_market ", 0) == 0) ticks.push_back(at);
  }
  ASSERT_GE(ticks.size(), 8u) << agent.out;
  for (size_t i = 1; i < ticks.size(); ++i) {
    SCOPED_TRACE(i);
    // A tick, plus the reads of one budget (16 KiB a millisecond here).
    EXPECT_LE(ticks[i] - ticks[i - 1], Ms(100 + 6));
  }
  EXPECT_NE(agent.out.find("expulsion CLogin"), std::string::npos) << agent.out;
  const std::string results = test_support::ReadFile(dir + "/results.json");
  size_t stored = 0;
  for (size_t at = results.find("\"at_us\""); at != std::string::npos;
       at = results.find("\"at_us\"", at + 1)) {
    ++stored;
  }
  EXPECT_LE(stored, ticks.size());
  EXPECT_GE(stored, 2u);  // the two bids that won before the sanctions
  EXPECT_LT(results.size(), 64u * 1024);
}

}  // namespace
}  // namespace gateway

namespace gateway {
namespace {

// An agent that lives but stops reading never holds up the gateway: output waits in a bounded
// queue, the market's clock runs on to the close, and the session fails once the agent has not
// taken its output a little after the end.
TEST(HostileAgent, AnAgentThatStopsReadingNeitherFreezesTheClockNorTheGateway) {
  const std::string dir = test_support::MakeTempDir();
  ManualClock clock;
  ScriptedAgent agent(clock);
  agent.Send(Ms(0), kAdmission);
  agent.StallAfter(3);
  agent.End(Ms(5000));
  EXPECT_EQ(RunSession(MakeSettings(100, kUnwanted, dir), agent, clock),
            session::kExitSessionFailed);
  EXPECT_EQ(agent.out, "accept\nopen_auction 1\nbuyers CLogin\n");
  EXPECT_TRUE(agent.closed_at.has_value());
  const std::string results = test_support::ReadFile(dir + "/results.json");
  EXPECT_NE(results.find("\"completed\": true"), std::string::npos) << results;
  EXPECT_NE(results.find("\"outcome\": \"unsold\""), std::string::npos);
  const std::string transcript = test_support::ReadFile(dir + "/transcript.txt");
  EXPECT_NE(transcript.find("0.200000 > out_of_market g1 200"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("output not taken"), std::string::npos) << transcript;
}

}  // namespace
}  // namespace gateway
