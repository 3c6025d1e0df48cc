// The built buyer agent against a scripted gateway put first on PATH as "RemoteControl".

#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/fake_session.h"
#include "tests/support/files.h"

namespace {

std::string CreditBlock(int credit, int benefit) {
  return "\n--------------------\nCredit: " + std::to_string(credit) +
         "\n Benefit: " + std::to_string(benefit) + " \n";
}

// A trace in which only auction 1 has anything beyond the start values.
std::string Trace(int credit, int benefit, const std::string& goods, const std::string& buyers) {
  std::string text = CreditBlock(credit, benefit);
  for (int i = 1; i < 21; ++i) text += CreditBlock(50000, 0);
  text += "------GOODS-------\n" + goods + "------BUYERS-------\n" + buyers;
  for (int i = 1; i < 21; ++i) text += "------GOODS-------\n------BUYERS-------\n";
  return text;
}

std::string BuyerLine(const std::string& name, int benefit, int expenses) {
  return "\n na: " + name + " be: " + std::to_string(benefit) + " ex: " + std::to_string(expenses) +
         "\n\n-------------------------------------------\n";
}

TEST(AgentEndToEnd, WholeAuctionExactLog) {
  Gateway gateway;
  gateway.script =
      "accept\n"
      "open_auction 1\n"
      "buyers CLogin Rival\n"
      "goods g1 wine s1 1200 1800 g2 oil s2 900 700\n"
      "open_round 1\n"
      "good g1 wine s1 1200 1800\n"
      "offer g1 1200\n"
      "offer g1 1100\n"
      "sold CLogin 1100\n"
      "good g2 oil s2 900 700\n"
      "offer g2 800\n"
      "out_of_market g2 600\n"
      "end_round 1\n"
      "open_round 2\n"
      "end_round 2 end_auction 1\n"
      "closed_market\n";
  Session s = RunAgainst(gateway);

  const std::string round1 = Trace(50000, 0,
                                   "\n id: g1 ki: wine se: s1 ip: 1200 rt: 0 rs: 1800 bu:  pi: 0\n"
                                   "\n id: g2 ki: oil se: s2 ip: 900 rt: 0 rs: 700 bu:  pi: 0\n",
                                   BuyerLine("CLogin", 0, 0) + BuyerLine("Rival", 0, 0));
  const std::string round2 =
      Trace(48900, 700,
            "\n id: g1 ki: wine se: s1 ip: 1200 rt: 0 rs: 1800 bu: CLogin pi: 1100\n"
            "\n id: g2 ki: oil se: s2 ip: 900 rt: 600 rs: 700 bu:  pi: -1\n",
            BuyerLine("CLogin", 700, 1100) + BuyerLine("Rival", 0, 0));
  const std::string expected = kAdmissionLog +               //
                               "\n\naccept \n\n" +           //
                               "\n\nopen_auction 1 \n\n" +   //
                               "\n\nbuyers CLogin Rival " +  // a list eats its marker
                               "\n\ngoods g1 wine s1 1200 1800 g2 oil s2 900 700 " +  //
                               "\n\nopen_round 1 " + round1 + "\n\n" +                //
                               "\n\ngood g1 wine s1 1200 1800 \n\n" +      // never bid on alone
                               "\n\noffer g1 1200 \nbid\n\n\n\n" +         //
                               "\n\noffer g1 1100 \nbid\n\n\n\n" +         //
                               "\n\nsold CLogin 1100 \n\n" +               //
                               "\n\ngood g2 oil s2 900 700 \n\n" +         //
                               "\n\noffer g2 800 \n\n" +                   // above resale: no bid
                               "\n\nout_of_market g2 600 \n\n" +           //
                               "\n\nend_round 1 \n\n" +                    //
                               "\n\nopen_round 2 " + round2 + "\n\n" +     //
                               "\n\nend_round 2 \n\nend_auction 1 \n\n" +  // two on one line
                               "\n\nclosed_market \n\n" +                  //
                               "\n\n";                                     // end of input
  EXPECT_EQ(s.run.out, expected);
  EXPECT_EQ(s.received, "admission CLogin TGatekeep\nbid\nbid\n");
  EXPECT_EQ(s.argv, "../RemoteControl\nCLogin\n");
  EXPECT_EQ(ExitCode(s.run), 0);
  EXPECT_EQ(s.run.err, "");
}

TEST(AgentEndToEnd, GatewayEndings) {
  const std::string cut_mid_message =
      "accept\nopen_auction 1\ngoods g1 k s 1000 1800\ngood g1 k s 1000 1800\noffer g1";
  const struct {
    const char* name;
    std::string mode;
    std::string script;
    int gateway_status;
    bool on_path;
    int agent_status;
    const char* stderr_has;
  } cases[] = {
      {"gateway exits at once", "exit", "", 3, true, 1, "buyer: the market gateway"},
      {"output ends mid-message, gateway fails", "play", cut_mid_message, 4, true, 1,
       "buyer: the market gateway exited with status 4"},
      {"gateway killed mid-session", "kill", "accept\nopen_auction 1\n", 0, true, 1,
       "buyer: the market gateway was killed by signal 9"},
      {"gateway killed mid-message", "kill", cut_mid_message, 0, true, 1,
       "buyer: the market gateway was killed by signal 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Gateway gateway;
    gateway.mode = c.mode;
    gateway.script = c.script;
    gateway.exit_status = c.gateway_status;
    if (!c.on_path) gateway.path = test_support::MakeTempDir();
    Session s = RunAgainst(gateway);
    EXPECT_EQ(ExitCode(s.run), c.agent_status);
    EXPECT_NE(s.run.err.find(c.stderr_has), std::string::npos) << s.run.err;
    EXPECT_EQ(s.run.out.rfind(kAdmissionLog, 0), 0u) << s.run.out;
  }
}

TEST(AgentEndToEnd, MissingGatewayIsOneExactLineEveryRun) {
  // Whether the admission write fails before or after the child's exit is a race; the line must
  // not depend on it.
  const std::string expected =
      "buyer: cannot start the market gateway \"RemoteControl\": No such file or directory (it is "
      "looked up along PATH; the build puts it in build/bin: PATH=build/bin:$PATH build/bin/buyer, "
      "or make run)\n";
  Gateway gateway;
  gateway.path = test_support::MakeTempDir();
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    Session s = RunAgainst(gateway);
    EXPECT_EQ(ExitCode(s.run), 1);
    EXPECT_EQ(s.run.err, expected);
    EXPECT_EQ(s.run.out, kAdmissionLog);
  }
}

TEST(AgentEndToEnd, MessageCutShortIsDroppedAndLogKept) {
  Gateway gateway;
  gateway.script =
      "accept\nopen_auction 1\ngoods g1 k s 1000 1800\ngood g1 k s 1000 1800\noffer g1";
  Session s = RunAgainst(gateway);
  EXPECT_EQ(ExitCode(s.run), 0);
  EXPECT_EQ(s.received, "admission CLogin TGatekeep\n");  // the cut offer is not bid on
  const std::string tail = "\n\ngood g1 k s 1000 1800 \n\n\n\noffer g1 ";
  ASSERT_GE(s.run.out.size(), tail.size());
  EXPECT_EQ(s.run.out.substr(s.run.out.size() - tail.size()), tail);
}

TEST(AgentEndToEnd, GatewayThatStopsReadingEndsTheAgentWithItsLog) {
  // The gateway closes its input before it offers a price the agent bids on, and keeps its
  // output open: the failed bid write, not end of input, ends the agent.
  Gateway gateway;
  gateway.mode = "deaf";
  gateway.script =
      "accept\nopen_auction 1\ngoods g1 k s 1000 1800\ngood g1 k s 1000 1800\noffer g1 1500\n"
      "offer g1 1400\n";
  Session s = RunAgainst(gateway);
  EXPECT_EQ(TermSignal(s.run), 0);
  EXPECT_EQ(ExitCode(s.run), 1);
  EXPECT_NE(s.run.err.find("buyer: the market gateway stopped reading commands"), std::string::npos)
      << s.run.err;
  const std::string tail = "\n\noffer g1 1500 \nbid\n\n";
  ASSERT_GE(s.run.out.size(), tail.size());
  EXPECT_EQ(s.run.out.substr(s.run.out.size() - tail.size()), tail);
}

TEST(AgentEndToEnd, LargeLogArrivesWhole) {
  // Enough rounds that the log passes through its buffer many times over.
  std::string script = "accept\nopen_auction 1\ngoods g1 k s 1000 1800\n";
  for (int round = 1; round <= 40; ++round) {
    script += "open_round " + std::to_string(round) + "\nend_round " + std::to_string(round) + "\n";
  }
  script += "closed_market\n";
  Gateway gateway;
  gateway.script = script;
  Session s = RunAgainst(gateway);
  EXPECT_EQ(ExitCode(s.run), 0);
  size_t traces = 0;
  for (size_t at = s.run.out.find("Credit: 50000"); at != std::string::npos;
       at = s.run.out.find("Credit: 50000", at + 1)) {
    ++traces;
  }
  EXPECT_EQ(traces, 40u * 21u);
  const std::string tail = "\n\nclosed_market \n\n\n\n";
  ASSERT_GE(s.run.out.size(), tail.size());
  EXPECT_EQ(s.run.out.substr(s.run.out.size() - tail.size()), tail);
}

// The gateway's output ends but it ignores the end of its input and stays: the agent gives it 5 s
// to exit, then sends SIGTERM, and SIGKILL 2 s later if it is still there; it reports the signal
// that ended the gateway. The agent's waits are sleeps, which never end early: the lower bounds
// hold on any machine. The upper bound only catches a hang.
TEST(AgentEndToEnd, GatewayThatKeepsRunningIsStopped) {
  struct Case {
    const char* mode;
    const char* report;   // what the agent says ended the gateway
    const char* signals;  // what the gateway survived
    double at_least_seconds;
  };
  const Case cases[] = {
      {"linger", "buyer: the market gateway was killed by signal 15", "", 5.0},
      {"stubborn", "buyer: the market gateway was killed by signal 9", "TERM\n", 7.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Gateway gateway;
    gateway.mode = c.mode;
    gateway.hold_ms = 60000;
    gateway.script = "accept\n";
    Session s = RunAgainst(gateway);
    EXPECT_EQ(ExitCode(s.run), 1);
    EXPECT_NE(s.run.err.find(c.report), std::string::npos) << s.run.err;
    EXPECT_EQ(s.signals, c.signals);
    EXPECT_GE(s.run.seconds, c.at_least_seconds);
    EXPECT_LT(s.run.seconds, 30);
    EXPECT_EQ(s.run.out, kAdmissionLog + "\n\naccept \n\n\n\n");
  }
}

TEST(AgentEndToEnd, FloodIntoASlowLogReaderLosesNothing) {
  // 50 MB of one-word messages as fast as the pipe takes them, while the agent's own standard
  // output is read slowly: every pass must still reach the log.
  const std::string line = "end_round 1\n";
  const long lines = 50L * 1024 * 1024 / static_cast<long>(line.size());
  Gateway gateway;
  gateway.script = line;
  gateway.repeat = lines;
  gateway.reader_pause_ms = 1;
  gateway.timeout_seconds = 300;
  Session s = RunAgainst(gateway);
  EXPECT_EQ(ExitCode(s.run), 0);
  // Per message: "\n\n" + "end_round 1 " and the marker's pass "\n\n"; then the end-of-input pass.
  EXPECT_EQ(s.run.out.size(), kAdmissionLog.size() + static_cast<size_t>(lines) * 16 + 2);
  EXPECT_TRUE(EndsWith(s.run.out, "\n\nend_round 1 \n\n\n\n"));
}

}  // namespace
