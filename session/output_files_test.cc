#include "session/output_files.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/results_json.h"
#include "session/exit_codes.h"
#include "tests/support/files.h"

namespace session {
namespace {

market::Results SomeResults() {
  market::Results results;
  results.seed = 7;
  results.completed = true;
  return results;
}

TEST(OutputFiles, FilesThatCannotBeWrittenFailOnceInOneLineEach) {
  const std::string dir = test_support::MakeTempDir();
  const struct {
    const char* name;
    std::string results;
    std::string transcript;
    bool opens;
    int status;  // from Finish(kExitOk) after writing the results and one transcript entry
    std::vector<std::string> complaints;
  } cases[] = {
      {"no files", "", "", true, kExitOk, {}},
      {"both written", dir + "/r.json", dir + "/t.txt", true, kExitOk, {}},
      {"results folder missing",
       dir + "/no/r.json",
       "",
       false,
       kExitOk,
       {"cannot write the results file " + dir + "/no/r.json: No such file or directory"}},
      {"transcript folder missing",
       "",
       dir + "/no/t.txt",
       false,
       kExitOk,
       {"cannot write the transcript file " + dir + "/no/t.txt: No such file or directory"}},
      {"results on a full device",
       "/dev/full",
       "",
       true,
       kExitResultsLost,
       {"could not write the results file /dev/full"}},
      {"transcript on a full device",
       dir + "/r2.json",
       "/dev/full",
       true,
       kExitResultsLost,
       {"could not write the transcript file /dev/full"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> complaints;
    OutputFiles files([&](const std::string& text) { complaints.push_back(text); });
    const bool opened = files.Open(c.results, c.transcript);
    EXPECT_EQ(opened, c.opens);
    if (opened) {
      files.transcript().Event(std::chrono::microseconds{1500}, "an entry");
      files.WriteResults(SomeResults());
      files.WriteResults(SomeResults());  // once only: no second complaint
      EXPECT_EQ(files.Finish(kExitOk), c.status);
    }
    EXPECT_EQ(complaints, c.complaints);
  }
  EXPECT_EQ(test_support::ReadFile(dir + "/r.json"), market::ResultsJson(SomeResults()));
  EXPECT_EQ(test_support::ReadFile(dir + "/t.txt"), "0.001500 ! an entry\n");
}

// The names in `dir`.
std::vector<std::string> Listed(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whatever ends the program between Open and WriteResults, the results file is never there
// empty, cut short, or a previous run's: it appears once, whole, owner-only.
TEST(OutputFiles, TheResultsFileAppearsWholeOrNotAtAll) {
  const std::string dir = test_support::MakeTempDir();
  const std::string path = dir + "/r.json";
  for (bool finished : {false, true}) {
    SCOPED_TRACE(finished ? "written" : "destroyed before writing");
    test_support::WriteFile(path, "{\"a previous run\": 1}");
    std::filesystem::permissions(path, std::filesystem::perms(0644));
    {
      OutputFiles files([](const std::string& text) { ADD_FAILURE() << text; });
      ASSERT_TRUE(files.Open(path, ""));
      EXPECT_FALSE(std::filesystem::exists(path));
      EXPECT_EQ(Listed(dir).size(), 1u);  // the results being written, beside
      if (finished) {
        files.WriteResults(SomeResults());
        EXPECT_EQ(files.Finish(kExitOk), kExitOk);
      }
    }
    if (finished) {
      EXPECT_EQ(Listed(dir), std::vector<std::string>{"r.json"});
      EXPECT_EQ(test_support::ReadFile(path), market::ResultsJson(SomeResults()));
      EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    } else {
      EXPECT_EQ(Listed(dir), std::vector<std::string>{});
    }
  }
}

TEST(OutputFiles, FinishKeepsTheSessionsStatusUnlessAFileFailed) {
  for (int status : {kExitOk, kExitSessionFailed}) {
    OutputFiles files([](const std::string& text) { ADD_FAILURE() << text; });
    ASSERT_TRUE(files.Open("", ""));
    EXPECT_EQ(files.Finish(status), status);
  }
}

}  // namespace
}  // namespace session
