// The job script is run here by bash with a stand-in program that prints its arguments, so
// quoting is checked by a shell rather than by reading the text.
#include "tournament/slurm/slurm_script.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace tournament {
namespace {

TEST(SlurmScript, QuotesShellWords) {
  const std::pair<const char*, const char*> cases[] = {
      {"/srv/t/tournament", "/srv/t/tournament"},
      {"a b", "'a b'"},
      {"it's", "'it'\\''s'"},
      {"", "''"},
      {"$HOME", "'$HOME'"},
      {"a;rm -rf x", "'a;rm -rf x'"},
      {"x\ny", "$'x\\x0ay'"},
      {"it's\x1b\\", "$'it\\'s\\x1b\\\\'"},
      {"\xc2\x9b \xc3\xa9", "$'\\xc2\\x9b \xc3\xa9'"},
  };
  for (const auto& [text, quoted] : cases) EXPECT_EQ(ShellQuote(text), quoted) << text;
}

SlurmJob Job(const std::string& dir) {
  SlurmJob job;
  job.program = dir + "/bin's dir/tournament";
  job.file = dir + "/my tournaments/t $1.toml";
  job.out_dir = dir + "/out dir";
  job.shards = 8;
  return job;
}

// Runs the script as task `task` with the program replaced by one printing its arguments; what
// the task's log holds.
std::vector<std::string> RunTask(const SlurmJob& job, const std::string& task) {
  mkdir((job.out_dir).c_str(), 0755);
  const std::string program_dir = job.program.substr(0, job.program.rfind('/'));
  mkdir(program_dir.c_str(), 0755);
  test_support::WriteFile(job.program,
                          "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done\n");
  chmod(job.program.c_str(), 0755);
  const std::string script = job.out_dir + "/tournament.sbatch";
  test_support::WriteFile(script, SlurmScript(job));
  const ProcessResult r = RunProcess({"/bin/bash", script}, {"SLURM_ARRAY_TASK_ID=" + task}, 30);
  EXPECT_EQ(ExitCode(r), 0) << r.err;
  return test_support::Lines(test_support::ReadFile(job.out_dir + "/shard-" + task + ".log"));
}

TEST(SlurmScript, EachTaskRunsItsShardWithTheOptionsPassedThrough) {
  const std::string dir = test_support::MakeTempDir();
  SlurmJob job = Job(dir);
  job.jobs = 3;
  job.deadline_ms = 5000;
  job.bin_dir = dir + "/bin's dir";
  job.partition = "batch";
  job.time = "1:30:00";
  const std::vector<std::string> argv = RunTask(job, "5");
  const std::vector<std::string> expected = {
      "run",      job.file, "--shard",       "5/8",  "--db",  job.out_dir + "/shard-5.db",
      "--jobs",   "3",      "--deadline-ms", "5000", "--bin", job.bin_dir,
      "--format", "csv"};
  EXPECT_EQ(argv, expected);
  const std::string text = SlurmScript(job);
  for (const char* line :
       {"#!/bin/bash\n", "\n#SBATCH --array=0-7\n", "\n#SBATCH --cpus-per-task=3\n",
        "\n#SBATCH --partition=batch\n", "\n#SBATCH --time=1:30:00\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
}

TEST(SlurmScript, LeavesOutWhatWasNotGiven) {
  const std::string dir = test_support::MakeTempDir();
  SlurmJob job = Job(dir);
  job.shards = 1;
  const std::vector<std::string> argv = RunTask(job, "0");
  const std::vector<std::string> expected = {
      "run",    job.file, "--shard",  "0/1", "--db", job.out_dir + "/shard-0.db",
      "--jobs", "1",      "--format", "csv"};
  EXPECT_EQ(argv, expected);
  const std::string text = SlurmScript(job);
  EXPECT_NE(text.find("\n#SBATCH --array=0-0\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("--partition"), std::string::npos) << text;
  EXPECT_EQ(text.find("--time"), std::string::npos) << text;
}

// A path is text from outside: whatever it holds reaches the task as one argument, and neither a
// command nor a directive of its own.
TEST(SlurmScript, PathsWithLineBreaksInjectNothing) {
  const std::string dir = test_support::MakeTempDir();
  SlurmJob job = Job(dir);
  job.file = dir + "/t\ntouch " + dir + "/INJECTED\n#SBATCH --partition=evil\n\x1b[31m.toml";
  job.bin_dir = dir + "/bin\n$(touch " + dir + "/INJECTED2)";
  const std::vector<std::string> argv = RunTask(job, "0");
  // The stand-in prints one line per argument: the path's lines come back in turn, whole.
  const std::vector<std::string> file_lines = test_support::Lines(job.file + "\n");
  ASSERT_GT(argv.size(), file_lines.size());
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 1,
                                     argv.begin() + 1 + static_cast<ptrdiff_t>(file_lines.size())),
            file_lines);
  EXPECT_FALSE(std::filesystem::exists(dir + "/INJECTED"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/INJECTED2"));
  const std::vector<std::string> lines = test_support::Lines(SlurmScript(job));
  for (const std::string& line : lines) {
    EXPECT_NE(line.rfind("touch", 0), 0u) << line;
    EXPECT_FALSE(line.rfind("#SBATCH", 0) == 0 && line.find("evil") != std::string::npos) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  }
  ASSERT_GT(lines.size(), 1u);
  EXPECT_NE(lines[1].find("/t\\ntouch "), std::string::npos) << lines[1];
  // What is printed for the terminal holds no control character either.
  const std::string next = SlurmNextSteps(job, job.out_dir + "/x\x1b]0;t\x07.sbatch");
  EXPECT_EQ(next.find('\x1b'), std::string::npos) << next;
  EXPECT_EQ(next.find('\x07'), std::string::npos) << next;
  EXPECT_EQ(test_support::Lines(next).size(), 5u) << next;
}

TEST(SlurmScript, RefusesDirectiveValuesItCannotWrite) {
  SlurmJob job = Job("/d");
  EXPECT_EQ(CheckSlurmJob(job), "");
  job.time = "2-00:00:00";
  EXPECT_EQ(CheckSlurmJob(job), "");
  for (const char* bad : {"1 day", "1\n#SBATCH --x", "$(x)", "'1'"}) {
    job.time = bad;
    EXPECT_NE(CheckSlurmJob(job).find("--time"), std::string::npos) << bad;
  }
  job.time = "";
  job.partition = "a b";
  EXPECT_NE(CheckSlurmJob(job).find("--partition"), std::string::npos);
}

TEST(SlurmScript, NextStepsAreCommandsAShellTakes) {
  const SlurmJob job = Job("/d");
  const std::string text = SlurmNextSteps(job, job.out_dir + "/tournament.sbatch");
  EXPECT_NE(text.find("  sbatch --wait '/d/out dir/tournament.sbatch'\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("  '/d/bin'\\''s dir/tournament' merge --into '/d/out dir/all.db' "
                      "'/d/out dir'/shard-*.db\n"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace tournament
