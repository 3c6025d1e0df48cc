#include "cli/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "cli/exit_status.h"
#include "cli/version.h"

namespace cli {
namespace {

// A small program with what the real ones use: a required option, a checked range, a positional,
// a flag and two subcommands.
struct Demo {
  Program program{"demo", "demo: a program to parse"};
  std::string scenario;
  int64_t count = 1;
  std::string file;
  bool markets = false;
  CLI::App* run = nullptr;
  CLI::App* show = nullptr;

  explicit Demo(bool subcommands = false) {
    program.SetExitStatuses({{kExitDone, "all went well"}, {kExitBadUsage, "bad usage"}});
    CLI::App& app = program.app();
    if (!subcommands) {
      app.add_option("SCENARIO", scenario, "the scenario file")->required();
      app.add_option("--count", count, "how many")->check(CLI::Range(int64_t{1}, int64_t{100}));
      return;
    }
    app.require_subcommand(1);
    run = app.add_subcommand("run", "run it");
    run->add_option("FILE", file, "the file")->required();
    run->add_flag("--markets", markets, "one row per market");
    show = app.add_subcommand("show", "show it");
    show->add_option("--db", file, "the database")->required();
  }
};

// Everything written to a pipe by Finish, on both descriptors.
struct Written {
  int status;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char block[4096];
  ssize_t n;
  while ((n = read(fd, block, sizeof block)) > 0) text.append(block, static_cast<size_t>(n));
  close(fd);
  return text;
}

Written FinishInto(const Stop& stop) {
  int out[2];
  int err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  const int status = Finish("demo", stop, out[1], err[1]);  // help fits in a pipe's buffer
  close(out[1]);
  close(err[1]);
  return {status, Drain(out[0]), Drain(err[0])};
}

TEST(Program, BadUsageIsStatus2AndOneLineWithTheHelpHint) {
  const struct {
    std::vector<std::string> args;
    bool subcommands;
    const char* says;
  } cases[] = {
      {{"demo"}, false, "SCENARIO is required"},
      {{"demo", "s.toml", "--bogus"}, false, "--bogus"},
      {{"demo", "s.toml", "extra"}, false, "extra"},
      {{"demo", "s.toml", "--count", "0"}, false, "--count"},
      {{"demo", "s.toml", "--count", "x"}, false, "--count"},
      {{"demo", "s.toml", "--count"}, false, "--count"},
      {{"demo"}, true, "subcommand"},
      {{"demo", "run"}, true, "FILE is required"},
      {{"demo", "show", "--markets", "--db", "d"}, true, "--markets"},
      {{"demo", "walk"}, true, "subcommand"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Demo demo(c.subcommands);
    const std::optional<Stop> stop = demo.program.Parse(c.args);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->exit_status, kExitBadUsage);
    EXPECT_EQ(stop->out, "");
    const Written written = FinishInto(*stop);
    EXPECT_EQ(written.status, kExitBadUsage);
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(written.err.rfind("demo: ", 0), 0u) << written.err;
    EXPECT_NE(written.err.find(c.says), std::string::npos) << written.err;
    const std::string tail = " (see demo --help)\n";
    ASSERT_GE(written.err.size(), tail.size());
    EXPECT_EQ(written.err.substr(written.err.size() - tail.size()), tail) << written.err;
    EXPECT_EQ(written.err.find('\n'), written.err.size() - 1) << written.err;
  }
  // A fault found after parsing reads the same, however many lines its message had.
  const Written after = FinishInto(UsageFault("two options\nthat do not go together"));
  EXPECT_EQ(after.status, kExitBadUsage);
  EXPECT_EQ(after.err, "demo: two options that do not go together (see demo --help)\n");
  EXPECT_EQ(UsageLine("p", "a\r\nb"), "p: a  b (see p --help)");
}

TEST(Program, HelpGoesToStandardOutputWithTheExitStatuses) {
  Demo demo;
  const std::optional<Stop> stop = demo.program.Parse({"demo", "--help"});  // SCENARIO missing
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->exit_status, kExitDone);
  EXPECT_EQ(stop->error, "");
  const Written written = FinishInto(*stop);
  EXPECT_EQ(written.status, kExitDone);
  EXPECT_EQ(written.err, "");
  EXPECT_EQ(written.out, stop->out);
  EXPECT_EQ(written.out.rfind("demo: a program to parse\nUsage: demo ", 0), 0u) << written.out;
  for (const char* part : {"--count", "-h,--help", "--version", "SCENARIO"}) {
    EXPECT_NE(written.out.find(part), std::string::npos) << part << " in " << written.out;
  }
  EXPECT_NE(written.out.find("\nExit status:\n  0    all went well\n  2    bad usage\n"),
            std::string::npos)
      << written.out;

  // A subcommand's --help is that subcommand's.
  Demo tool(true);
  const std::optional<Stop> sub = tool.program.Parse({"demo", "run", "--help"});
  ASSERT_TRUE(sub.has_value());
  EXPECT_EQ(sub->exit_status, kExitDone);
  EXPECT_NE(sub->out.find("--markets"), std::string::npos) << sub->out;
  EXPECT_EQ(sub->out.find("--db"), std::string::npos) << sub->out;
}

TEST(Program, VersionIsTheProgramsNameAndTheProjectsVersion) {
  EXPECT_STREQ(Version(), PROJECT_VERSION_TEXT);
  for (bool subcommands : {false, true}) {
    Demo demo(subcommands);
    const std::optional<Stop> stop = demo.program.Parse({"demo", "--version"});
    ASSERT_TRUE(stop.has_value());
    const Written written = FinishInto(*stop);
    EXPECT_EQ(written.status, kExitDone);
    EXPECT_EQ(written.out, std::string("demo ") + PROJECT_VERSION_TEXT + "\n");
    EXPECT_EQ(written.err, "");
  }
}

// Help that cannot be written is not a success.
TEST(Program, HelpOrVersionThatCannotBeWrittenIsOutputLost) {
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  Demo demo;
  const int status = Finish("demo", *demo.program.Parse({"demo", "--version"}), full, err[1]);
  close(full);
  close(err[1]);
  EXPECT_EQ(status, kExitOutputLost);
  EXPECT_EQ(Drain(err[0]),
            "demo: cannot write to standard output: " + std::string(std::strerror(ENOSPC)) + "\n");
}

TEST(Program, AGoodCommandLineRunsWithItsValues) {
  Demo demo;
  EXPECT_EQ(demo.program.Parse({"demo", "s.toml", "--count", "100"}), std::nullopt);
  EXPECT_EQ(demo.scenario, "s.toml");
  EXPECT_EQ(demo.count, 100);
  Demo tool(true);
  EXPECT_EQ(tool.program.Parse({"demo", "run", "t.toml", "--markets"}), std::nullopt);
  EXPECT_TRUE(tool.run->parsed());
  EXPECT_EQ(tool.file, "t.toml");
  EXPECT_TRUE(tool.markets);

  // A parser's answer holds its options or why it stops, never both.
  struct Options {
    int n = 0;
  };
  const Parsed<Options> runs = Options{7};
  ASSERT_TRUE(runs.options.has_value());
  EXPECT_EQ(runs.options->n, 7);
  EXPECT_EQ(runs.exit_status, kExitDone);
  const Parsed<Options> stops = UsageFault("no");
  EXPECT_FALSE(stops.options.has_value());
  EXPECT_EQ(stops.exit_status, kExitBadUsage);
  EXPECT_EQ(stops.error, "no");
}

// The numbers are a contract with scripts: each meaning has its own, none looks like a signal.
TEST(ExitStatus, EachMeaningHasItsOwnNumber) {
  const std::set<int> statuses = {kExitDone, kExitFailed, kExitBadUsage, kExitOutputLost,
                                  kExitIncomplete};
  EXPECT_EQ(statuses.size(), 5u);
  EXPECT_EQ(*statuses.begin(), 0);
  EXPECT_LT(*statuses.rbegin(), kExitSignalBase);
  EXPECT_EQ(kExitOutputLost, 3);
  EXPECT_EQ(kExitIncomplete, 4);
}

}  // namespace
}  // namespace cli
