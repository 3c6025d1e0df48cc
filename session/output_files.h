// A session's output files: the results (JSON) and the transcript. Both are opened before the
// session, so that a file that cannot be written fails at once (kExitBadSettings), not after the
// market has run; a file that fails at the end costs kExitResultsLost. Every failure is
// complained about in one line.
#ifndef SESSION_OUTPUT_FILES_H_
#define SESSION_OUTPUT_FILES_H_

#include <cstdio>
#include <functional>
#include <string>

#include "engine/results.h"
#include "wire/transcript.h"

namespace session {

// Receives one complaint, without its newline (the program adds its name).
using Complain = std::function<void(const std::string& text)>;

class OutputFiles {
 public:
  explicit OutputFiles(Complain complain) : complain_(std::move(complain)) {}
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // Creates (or empties) the files whose path is not empty, readable by their owner only: "cannot
  // write the transcript file PATH: WHY" or "cannot write the results file PATH: WHY" and false
  // when one cannot be.
  //
  // The results are written whole or not at all: into a new file beside PATH (PATH.writing-XXXXXX),
  // renamed to PATH once complete. A file already at PATH is removed here, so that whatever ends
  // the program before WriteResults, PATH is never empty or cut short, nor a previous run's;
  // the file beside it is removed when this object is destroyed unfinished. A PATH that exists and
  // is no regular file (a device, a pipe, a link) is written in place.
  bool Open(const std::string& results_path, const std::string& transcript_path);

  // Entries go to the transcript file; without one, nowhere.
  wire::Transcript& transcript() { return transcript_; }
  bool has_transcript() const { return !transcript_path_.empty(); }

  // Writes the results once (later calls do nothing) and closes the file; without a results
  // file, nothing. "could not write the results file PATH" when it fails.
  void WriteResults(const market::Results& results);

  // Closes the transcript ("could not write the transcript file PATH" when any entry failed) and
  // gives `status`, or kExitResultsLost when a file failed.
  int Finish(int status);

 private:
  Complain complain_;
  std::string results_path_;
  std::string transcript_path_;
  std::FILE* results_ = nullptr;
  std::string writing_path_;  // the file beside the results, renamed once written; empty: in place
  wire::Transcript transcript_;
  bool failed_ = false;
};

}  // namespace session

#endif  // SESSION_OUTPUT_FILES_H_
