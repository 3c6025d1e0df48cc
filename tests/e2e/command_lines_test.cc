// Every program with options answers --help, --version and bad usage the same way, as built:
// what scripts and the manual pages made from --help and --version rely on.
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "cli/exit_status.h"
#include "cli/version.h"
#include "tests/support/process.h"

namespace {

struct Program {
  const char* name;
  const char* path;
};

const Program kPrograms[] = {
    {"marketd", MARKETD_PATH},
    {"market-sim", MARKET_SIM_PATH},
    {"market-report", MARKET_REPORT_PATH},
    {"tournament", TOURNAMENT_PATH},
    {"market_peer", MARKET_PEER_PATH},
    {"agent-check", AGENT_CHECK_PATH},
};

ProcessResult RunProgram(const std::vector<std::string>& argv) { return RunProcess(argv, {}, 30); }

TEST(CommandLines, HelpVersionAndBadUsageAreAlike) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::string name = p.name;

    const ProcessResult version = RunProgram({p.path, "--version"});
    EXPECT_EQ(ExitCode(version), cli::kExitDone);
    EXPECT_EQ(version.out, name + " " + cli::Version() + "\n");
    EXPECT_EQ(version.err, "");

    const ProcessResult help = RunProgram({p.path, "--help"});
    EXPECT_EQ(ExitCode(help), cli::kExitDone);
    EXPECT_EQ(help.out.rfind(name + ": ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("\nUsage: " + name + " "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("\nExit status:\n  0    "), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    const ProcessResult bad = RunProgram({p.path, "--no-such-option"});
    EXPECT_EQ(ExitCode(bad), cli::kExitBadUsage);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err.rfind(name + ": ", 0), 0u) << bad.err;
    const std::string hint = " (see " + name + " --help)\n";
    EXPECT_TRUE(bad.err.size() > hint.size() &&
                bad.err.compare(bad.err.size() - hint.size(), hint.size(), hint) == 0)
        << bad.err;
    EXPECT_EQ(bad.err.find('\n'), bad.err.size() - 1) << bad.err;

    // Help that cannot be written is not a success.
    const ProcessResult lost =
        RunProgram({"/bin/sh", "-c", "exec \"$0\" --help >/dev/full", p.path});
    EXPECT_EQ(ExitCode(lost), cli::kExitOutputLost) << lost.err;
    EXPECT_EQ(lost.err,
              name + ": cannot write to standard output: " + std::strerror(ENOSPC) + "\n");
  }
}

}  // namespace
