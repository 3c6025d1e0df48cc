// agent-check against real agents: the buyer and the example agents keep every rule; each of a
// table of deliberately broken agents (small Python scripts on the example library) fails
// exactly the rule it breaks and no other. And the command line: usage errors, help, version.
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/version.h"
#include "tests/support/child_process.h"

namespace {

using test_support::ChildResult;
using test_support::Conversation;
using test_support::Converse;
using test_support::ExitStatus;
using test_support::MakeTempDir;
using test_support::WriteFile;

ChildResult Check(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {AGENT_CHECK};
  argv.insert(argv.end(), args.begin(), args.end());
  // The example library is imported from the source tree: no byte code written there.
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", "PYTHONDONTWRITEBYTECODE=1"};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  Conversation nothing;
  nothing.close_input_at_once = true;
  ChildResult run = Converse(argv, env, nothing, 280);
  EXPECT_FALSE(run.timed_out);
  return run;
}

// The ids of the checks that failed, and of those no situation put to the test.
struct Verdict {
  std::set<std::string> failed;
  std::set<std::string> untried;
  nlohmann::json report;
};

Verdict Judge(const ChildResult& run) {
  Verdict v;
  v.report = nlohmann::json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_TRUE(v.report.is_object()) << run.out << run.err;
  if (!v.report.is_object()) return v;
  for (const auto& check : v.report["checks"]) {
    if (!check["passed"].get<bool>()) v.failed.insert(check["id"].get<std::string>());
    if (!check["tried"].get<bool>()) v.untried.insert(check["id"].get<std::string>());
  }
  return v;
}

struct SoundAgent {
  const char* name;
  std::vector<std::string> command;
  std::set<std::string> warned;  // advice it breaks (the check still passes)
};

class SoundAgents : public ::testing::TestWithParam<SoundAgent> {};

TEST_P(SoundAgents, PassEveryCheck) {
  std::vector<std::string> args = {"--format", "json", "--"};
  for (const std::string& word : GetParam().command) args.push_back(word);
  const ChildResult run = Check(args);
  const Verdict v = Judge(run);
  EXPECT_EQ(ExitStatus(run), 0) << run.out;
  EXPECT_EQ(v.failed, GetParam().warned) << run.out;
  EXPECT_EQ(v.untried, std::set<std::string>{});
  EXPECT_GT(v.report["response_ms"]["count"].get<int>(), 0);
  EXPECT_EQ(v.report["situations"].size(), 10u);
}

const std::string kPython = AGENTS_DIR "/python/";

INSTANTIATE_TEST_SUITE_P(
    Agents, SoundAgents,
    // The buyer's bid rule is fixed by its interface and does not read its own expulsion.
    ::testing::Values(SoundAgent{"buyer", {BUYER}, {"no-bid-expelled"}},
                      SoundAgent{"threshold", {PYTHON3, kPython + "threshold_bidder.py"}, {}},
                      SoundAgent{"shading", {PYTHON3, kPython + "shading_bidder.py"}, {}},
                      SoundAgent{"c_template", {C_AGENT}, {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A broken agent: the body of a Python script with the example library imported, and the one
// check it must fail.
struct BrokenAgent {
  const char* name;
  const char* fails;
  const char* body;
};

constexpr const char* kPrologue = R"(import os, signal, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
from market_agent import Agent, parse, run

def fair(agent, m):
    return m.kind in ("offer", "collision") and agent.can_bid() and \
        m.price * 100 <= agent.good.resale * 90

)";

class BrokenAgents : public ::testing::TestWithParam<BrokenAgent> {};

TEST_P(BrokenAgents, FailExactlyTheCheckTheyBreak) {
  const std::string script = MakeTempDir() + "/agent.py";
  WriteFile(script, std::string(kPrologue) + GetParam().body);
  const ChildResult run =
      Check({"--format", "json", "--exit-wait", "3", "--", PYTHON3, script, AGENTS_DIR "/python"});
  const Verdict v = Judge(run);
  // Breaking advice is a warning: the check passes.
  const bool advice = std::string(GetParam().fails) == "no-bid-expelled";
  EXPECT_EQ(ExitStatus(run), advice ? 0 : 1) << run.out;
  EXPECT_EQ(v.failed, std::set<std::string>{GetParam().fails}) << run.out;
  // Each failure names its situation, the offending line and what was expected.
  for (const auto& check : v.report["checks"]) {
    for (const auto& failure : check["failures"]) {
      EXPECT_FALSE(failure["situation"].get<std::string>().empty());
      EXPECT_FALSE(failure["line"].get<std::string>().empty());
      EXPECT_FALSE(failure["expected"].get<std::string>().empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Agents, BrokenAgents,
    ::testing::Values(
        BrokenAgent{"malformed_admission", "admission",
                    "sys.exit(run(lambda a, m: True, password='two words'))\n"},
        BrokenAgent{"bids_after_a_sale", "bid-in-force", R"(with Agent() as agent:
    for m in agent.messages():
        if fair(agent, m): agent.bid()
        if m.kind == "sold" and not agent.expelled: agent._send("bid")
)"},
        BrokenAgent{"ignores_expulsion", "no-bid-expelled", R"(with Agent() as agent:
    for m in agent.messages():
        if m.kind in ("offer", "collision") and m.price * 100 <= agent.good.resale * 90:
            agent._send("bid")
)"},
        BrokenAgent{"bids_after_the_close", "no-bid-after-close", R"(with Agent() as agent:
    for m in agent.messages():
        if fair(agent, m): agent.bid()
        if m.kind == "closed_market": agent._send("bid")
)"},
        BrokenAgent{"lingers_after_the_close", "exit-at-close", R"(with Agent() as agent:
    for m in agent.messages():
        if fair(agent, m): agent.bid()
if agent.closed: time.sleep(60)
)"},
        BrokenAgent{"lingers_at_end_of_input", "exit-at-end-of-input", R"(with Agent() as agent:
    for m in agent.messages():
        if fair(agent, m): agent.bid()
if not agent.closed: time.sleep(60)
)"},
        BrokenAgent{"leaves_its_gateway", "no-gateway-left", R"(agent = Agent()
for line in agent._process.stdout:
    m = parse(line.rstrip("\n"))
    agent._update(m)
    if fair(agent, m): agent.bid()
# The command pipe's write end lives on in a child: the gateway never sees its input end.
subprocess.Popen(["sleep", "60"], pass_fds=(agent._process.stdin.fileno(),))
os._exit(0)
)"},
        BrokenAgent{"crashes_on_an_unknown_line", "no-crash", R"(with Agent() as agent:
    for m in agent.messages():
        if m.kind == "unknown": os.abort()
        if fair(agent, m): agent.bid()
)"},
        BrokenAgent{"bids_with_a_price", "commands", R"(with Agent() as agent:
    for m in agent.messages():
        if fair(agent, m): agent._send("bid %d" % m.price)
)"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(AgentCheckCommandLine, UsageHelpAndVersion) {
  EXPECT_EQ(ExitStatus(Check({})), 2);
  EXPECT_EQ(ExitStatus(Check({"--format", "xml", "--", "true"})), 2);
  EXPECT_EQ(ExitStatus(Check({"--situation", "nowhere", "--", "true"})), 2);
  EXPECT_EQ(ExitStatus(Check({"--gateway", "/nonexistent", "--", "true"})), 2);
  const ChildResult help = Check({"--help"});
  EXPECT_EQ(ExitStatus(help), 0);
  EXPECT_NE(help.out.find("--format"), std::string::npos);
  const ChildResult version = Check({"--version"});
  EXPECT_EQ(ExitStatus(version), 0);
  EXPECT_EQ(version.out, std::string("agent-check ") + cli::Version() + "\n");
}

// An agent that cannot be run at all fails the admission, in text as well.
TEST(AgentCheckCommandLine, AnAgentThatDoesNotStartFailsItsAdmission) {
  const ChildResult run = Check({"--situation", "admission", "--", "/nonexistent/agent"});
  EXPECT_EQ(ExitStatus(run), 1);
  EXPECT_NE(run.out.find("FAIL  admission"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("no RemoteControl connected"), std::string::npos) << run.out;
}

}  // namespace
