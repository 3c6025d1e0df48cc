#include "session/output_files.h"

#include <cerrno>
#include <cstring>

#include "engine/results_json.h"
#include "session/exit_codes.h"
#include "wire/private_file.h"

namespace session {

OutputFiles::~OutputFiles() {
  if (results_ != nullptr) std::fclose(results_);
}

bool OutputFiles::Open(const std::string& results_path, const std::string& transcript_path) {
  results_path_ = results_path;
  transcript_path_ = transcript_path;
  if (!transcript_path.empty() && !transcript_.Open(transcript_path)) {
    complain_("cannot write the transcript file " + transcript_path + ": " + std::strerror(errno));
    return false;
  }
  if (!results_path.empty()) {
    results_ = wire::OpenPrivate(results_path);
    if (results_ == nullptr) {
      complain_("cannot write the results file " + results_path + ": " + std::strerror(errno));
      return false;
    }
  }
  return true;
}

void OutputFiles::WriteResults(const market::Results& results) {
  if (results_ == nullptr) return;
  const std::string json = market::ResultsJson(results);
  const bool written = std::fwrite(json.data(), 1, json.size(), results_) == json.size();
  if (std::fclose(results_) != 0 || !written) {
    failed_ = true;
    complain_("could not write the results file " + results_path_);
  }
  results_ = nullptr;
}

int OutputFiles::Finish(int status) {
  if (!transcript_.Close()) {
    failed_ = true;
    complain_("could not write the transcript file " + transcript_path_);
  }
  return failed_ ? kExitResultsLost : status;
}

}  // namespace session
