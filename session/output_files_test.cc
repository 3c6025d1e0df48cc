#include "session/output_files.h"

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
  const std::string dir = testfiles::MakeTempDir();
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
  EXPECT_EQ(testfiles::ReadFile(dir + "/r.json"), market::ResultsJson(SomeResults()));
  EXPECT_EQ(testfiles::ReadFile(dir + "/t.txt"), "0.001500 ! an entry\n");
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
