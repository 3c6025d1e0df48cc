#include "checker/situations.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

#include "engine/commands.h"

namespace checker {
namespace {

using market::Command;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

Clock::time_point In(Seconds wait) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(wait);
}

std::string Ending(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  }
  return "ended";
}

// One situation: the script's side of the session and the judging of the agent's lines.
class Run {
 public:
  Run(Probe& probe, const Limits& limits, Findings& findings, std::string name)
      : probe_(probe), limits_(limits), findings_(findings), name_(std::move(name)) {}

  const std::string& login() const { return login_; }
  bool bid() const { return bid_; }

  // Waits for the gateway and the admission, judges it and answers "accept".
  bool Admit() {
    if (!probe_.Accept(limits_.start_wait)) {
      Fail(Rule::kAdmission, "no RemoteControl connected within the wait",
           "the agent starts RemoteControl from PATH");
      return false;
    }
    tried(Rule::kAdmission);
    const std::optional<Received> first = probe_.Next(In(limits_.answer_wait));
    std::string args;
    for (const Probe::Gateway& g : probe_.Gateways()) args = g.args;
    const std::string expected = "admission LOGIN PASSWORD, LOGIN the gateway's one argument";
    if (!first) {
      Fail(Rule::kAdmission, "(no line within the wait)", expected);
      return probe_.connected() && !probe_.input_ended();
    }
    const std::vector<std::string> words = Words(first->line);
    const Command command = market::ParseCommand(first->line);
    if (command.kind == Command::Kind::kAdmission) login_ = command.login;
    if (first->overlong || command.kind != Command::Kind::kAdmission || args != "1:" + login_) {
      Fail(Rule::kAdmission,
           market::WithoutPassword(first->line) + " (RemoteControl arguments " + args + ")",
           expected);
    }
    Send("accept");
    return true;
  }

  // Sends lines, keeping the script's state: the price in force, expulsion, the close.
  void Send(const std::string& line) {
    Listen(Clock::now());  // whatever the agent sent before this line is judged first
    const std::vector<std::string> w = Words(line);
    const std::string tag = w.empty() ? "" : w[0];
    if (tag == "offer" || tag == "collision") {
      in_force_ = true;
      bid_ = false;
      priced_at_ = Clock::now();
    } else if (tag == "sold" || tag == "out_of_market" || tag == "sanction" ||
               tag == "closed_market" || tag == "good" || tag == "end_round") {
      in_force_ = false;
    }
    if (tag == "expulsion" && w.size() > 1 && w[1] == login_) expelled_ = true;
    if (tag == "open_auction") expelled_ = false;
    if (tag == "closed_market") closed_ = true;
    last_sent_ = line.substr(0, 60);
    probe_.Send(line);
  }

  // A price the agent may bid on: a bid is waited for (expect_bid) or listened for.
  void Price(const std::string& line, bool expect_bid) {
    Send(line);
    if (expelled_) tried(Rule::kNoBidExpelled);
    // Any line ends the wait for an answer: a bid, or whatever the agent sends instead.
    const auto until = In(expect_bid ? limits_.answer_wait : limits_.quiet_wait);
    bool answered = false;
    while (!answered && !probe_.input_ended()) {
      const std::optional<Received> got = probe_.Next(until);
      if (!got) break;
      Judge(*got);
      answered = true;
    }
    if (!expect_bid) Listen(until);
  }

  // The good ends: sold to the agent when it bid, else to Vera.
  void Settle(const std::string& price) {
    Send("sold " + std::string(bid_ ? login_ : "Vera") + " " + price);
  }

  void Open(int auction, const std::string& buyers, const std::string& goods) {
    Send("open_auction " + std::to_string(auction));
    Send("buyers " + login_ + buyers);
    Send("goods " + goods);
    Send("open_round 1");
  }

  void CloseAuction(int auction) {
    Send("end_round 1");
    Send("end_auction " + std::to_string(auction));
  }

  // closed_market after a quiet moment (a stray bid is judged before the close), the output's
  // end; the agent's last lines, its exit.
  void Close() {
    Listen(In(limits_.quiet_wait));
    Send("closed_market");
    tried(Rule::kNoBidAfterClose);
    probe_.EndOutput();
    Finish(Rule::kExitAtClose);
  }

  // The output ends without closed_market.
  void Cut() {
    Listen(Clock::now());
    probe_.EndOutput();
    Finish(Rule::kExitAtEndOfInput);
  }

  // The agent ended before the script did.
  void Finish() { Finish(std::nullopt); }

 private:
  void tried(Rule rule) { findings_.tried[static_cast<int>(rule)] = true; }
  void Fail(Rule rule, std::string line, std::string expected) {
    findings_.Fail(rule, name_, std::move(line), std::move(expected));
  }

  // Judges what the agent has sent up to `until`.
  void Listen(Clock::time_point until) {
    while (!probe_.input_ended()) {
      const std::optional<Received> got = probe_.Next(until);
      if (!got) return;
      Judge(*got);
    }
  }

  void Judge(const Received& got) {
    tried(Rule::kCommands);
    const Command::Kind kind = market::ParseCommand(got.line).kind;
    if (got.overlong || kind == Command::Kind::kUnknown ||
        kind == Command::Kind::kMalformedAdmission) {
      Fail(Rule::kCommands,
           (got.overlong ? "(over 4096 bytes) " : "") + market::WithoutPassword(got.line),
           "admission LOGIN PASSWORD, bid or exit");
      return;
    }
    if (kind != Command::Kind::kBid) return;
    tried(Rule::kBidInForce);
    const std::string where = "bid (after \"" + last_sent_ + "\")";
    if (closed_) {
      Fail(Rule::kNoBidAfterClose, where, "nothing but exit after closed_market");
    } else if (expelled_) {
      Fail(Rule::kNoBidExpelled, where, "no bid while expelled, until the next open_auction");
    } else if (!in_force_ || bid_) {
      Fail(Rule::kBidInForce, where,
           bid_ ? "one bid per price"
                : "a bid only after an offer or a collision, before the "
                  "good's sale, sanction or fall-out");
    } else {
      bid_ = true;
      findings_.response_ms.push_back(
          std::chrono::duration<double, std::milli>(got.at - priced_at_).count());
    }
  }

  void Finish(std::optional<Rule> exit_rule) {
    const auto until = In(limits_.exit_wait);
    Listen(until);
    std::optional<int> status = probe_.WaitExit(until);
    if (exit_rule) {
      tried(*exit_rule);
      if (!status) {
        Fail(*exit_rule,
             "still running " + std::to_string(limits_.exit_wait.count()) +
                 " s after its output ended (after \"" + last_sent_ + "\")",
             "exit once the market's output ends");
      }
    }
    if (status) {
      tried(Rule::kNoGatewayLeft);
      const std::vector<pid_t> left = probe_.GatewaysLeft(In(limits_.gateway_wait));
      if (!left.empty()) {
        Fail(Rule::kNoGatewayLeft,
             "RemoteControl (pid " + std::to_string(left[0]) + ") still running " +
                 std::to_string(limits_.gateway_wait.count()) + " s after the agent exited",
             "close the command pipe and wait for RemoteControl before exiting");
      }
      ending_ = Ending(*status);
      tried(Rule::kNoCrash);
      if (WIFSIGNALED(*status)) {
        Fail(Rule::kNoCrash, ending_ + " after \"" + last_sent_ + "\"", "no crash");
      }
    } else {
      ending_ = "killed by agent-check";
    }
  }

 public:
  std::string ending_ = "not ended";

 private:
  Probe& probe_;
  const Limits& limits_;
  Findings& findings_;
  std::string name_;
  std::string login_ = "CLogin";
  std::string last_sent_;
  Clock::time_point priced_at_;
  bool in_force_ = false;
  bool bid_ = false;  // the agent bid at the price in force
  bool expelled_ = false;
  bool closed_ = false;
};

const std::string kG1 = "g1 tea Ana 2000 2000";
const std::string kG2 = "g2 oil Ben 2000 2000";
const std::string kG3 = "g3 wine Cruz 2000 2000";

// A good offered at 800, well below its resale price of 2000, and settled.
void SellAt800(Run& run, const std::string& good) {
  run.Send("good " + good);
  run.Price("offer " + good.substr(0, 2) + " 800", true);
  run.Settle("800");
}

using Script = std::function<void(Run&)>;

struct Situation {
  const char* name;
  Script script;
};

const std::vector<Situation>& Situations() {
  static const std::vector<Situation> situations = {
      {"admission",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         SellAt800(r, kG1);
         r.CloseAuction(1);
         r.Close();
       }},
      {"offers",
       [](Run& r) {
         r.Open(1, " Vera", kG1 + " " + kG2);
         r.Send("good " + kG1);
         r.Price("offer g1 2600", false);
         r.Price("offer g1 800", true);
         r.Settle("800");
         SellAt800(r, kG2);
         r.CloseAuction(1);
         r.Close();
       }},
      {"collision",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         r.Send("good " + kG1);
         r.Price("offer g1 800", true);
         r.Price("collision g1 950", true);
         r.Settle("950");
         r.CloseAuction(1);
         r.Close();
       }},
      {"sanction-expulsion",
       [](Run& r) {
         r.Open(1, " Vera", kG1 + " " + kG2);
         r.Send("good " + kG1);
         r.Price("offer g1 800", true);
         r.Send("sanction " + r.login() + " 580");
         r.Price("offer g1 800", true);
         r.Send("sanction " + r.login() + " 580");
         r.Send("expulsion " + r.login());
         r.Send("buyers Vera");
         r.Price("offer g1 800", false);
         r.Send("sold Vera 800");
         r.Send("good " + kG2);
         r.Price("offer g2 700", false);
         r.Send("sold Vera 700");
         r.CloseAuction(1);
         r.Open(2, " Vera", kG3);
         SellAt800(r, kG3);
         r.CloseAuction(2);
         r.Close();
       }},
      {"out-of-market",
       [](Run& r) {
         r.Open(1, " Vera", kG1 + " " + kG2);
         r.Send("good " + kG1);
         r.Price("offer g1 2400", false);
         r.Send("out_of_market g1 2300");
         SellAt800(r, kG2);
         r.CloseAuction(1);
         r.Close();
       }},
      {"second-auction",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         SellAt800(r, kG1);
         r.CloseAuction(1);
         r.Open(2, " Vera Otto Rash Cleo", kG2 + " " + kG3);
         SellAt800(r, kG2);
         SellAt800(r, kG3);
         r.CloseAuction(2);
         r.Close();
       }},
      {"market-closing",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         r.Send("good " + kG1);
         r.Price("offer g1 2400", false);
         r.Send("out_of_market g1 2300");
         r.CloseAuction(1);
         r.Close();
       }},
      {"end-of-input",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         r.Send("good " + kG1);
         r.Price("offer g1 800", true);
         r.Cut();
       }},
      {"unknown-message",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         r.Send("weather g1 sunny 21");
         r.Send("");
         SellAt800(r, kG1);
         r.CloseAuction(1);
         r.Close();
       }},
      {"over-long-line",
       [](Run& r) {
         r.Open(1, " Vera", kG1);
         r.Send("notice " + std::string(100000, 'x'));
         SellAt800(r, kG1);
         r.CloseAuction(1);
         r.Close();
       }},
  };
  return situations;
}

}  // namespace

std::vector<std::string> SituationNames() {
  std::vector<std::string> names;
  for (const Situation& s : Situations()) names.push_back(s.name);
  return names;
}

void PlaySituations(const Stage& stage, const std::vector<std::string>& argv, const Limits& limits,
                    const std::vector<std::string>& only, Findings& findings) {
  for (const Situation& situation : Situations()) {
    if (!only.empty() && std::find(only.begin(), only.end(), situation.name) == only.end()) {
      continue;
    }
    const auto started = Clock::now();
    Probe probe(stage, argv);
    Run run(probe, limits, findings, situation.name);
    if (run.Admit()) {
      situation.script(run);
    } else {
      run.Finish();
    }
    findings.situations.push_back(
        {situation.name, run.ending_, Seconds(Clock::now() - started).count()});
  }
}

}  // namespace checker
