#include "session/output_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/results_json.h"
#include "session/exit_codes.h"
#include "wire/private_file.h"

namespace session {

namespace {

// A new file beside `path`, readable by its owner only; its name in *created. nullptr, with
// errno set, when it cannot be made.
std::FILE* CreateBeside(const std::string& path, std::string* created) {
  std::vector<char> name(path.begin(), path.end());
  const std::string suffix = ".writing-XXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    unlink(name.data());
    errno = error;
    return nullptr;
  }
  *created = name.data();
  return file;
}

// A file this user may write, as when it is written in place; false with errno set.
bool Writable(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

OutputFiles::~OutputFiles() {
  if (results_ != nullptr) std::fclose(results_);
  if (!writing_path_.empty()) unlink(writing_path_.c_str());
}

bool OutputFiles::Open(const std::string& results_path, const std::string& transcript_path) {
  results_path_ = results_path;
  transcript_path_ = transcript_path;
  if (!transcript_path.empty() && !transcript_.Open(transcript_path)) {
    complain_("cannot write the transcript file " + transcript_path + ": " + std::strerror(errno));
    return false;
  }
  if (results_path.empty()) return true;
  struct stat info {};
  const bool exists = lstat(results_path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    results_ = wire::OpenPrivate(results_path);
  } else if (!exists || Writable(results_path)) {
    results_ = CreateBeside(results_path, &writing_path_);
    if (results_ != nullptr && exists && unlink(results_path.c_str()) != 0) {
      const int error = errno;
      std::fclose(results_);
      results_ = nullptr;
      unlink(writing_path_.c_str());
      writing_path_.clear();
      errno = error;
    }
  }
  if (results_ == nullptr) {
    complain_("cannot write the results file " + results_path + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

void OutputFiles::WriteResults(const market::Results& results) {
  if (results_ == nullptr) return;
  bool written = true;
  market::WriteResultsJson(results, [&](std::string_view piece) {
    if (written) written = std::fwrite(piece.data(), 1, piece.size(), results_) == piece.size();
  });
  written = written && std::fflush(results_) == 0;
  if (written && !writing_path_.empty()) written = fsync(fileno(results_)) == 0;
  written = std::fclose(results_) == 0 && written;
  results_ = nullptr;
  if (written && !writing_path_.empty()) {
    written = std::rename(writing_path_.c_str(), results_path_.c_str()) == 0;
  }
  if (!writing_path_.empty()) {
    if (!written) unlink(writing_path_.c_str());
    writing_path_.clear();
  }
  if (!written) {
    failed_ = true;
    complain_("could not write the results file " + results_path_);
  }
}

int OutputFiles::Finish(int status) {
  if (!transcript_.Close()) {
    failed_ = true;
    complain_("could not write the transcript file " + transcript_path_);
  }
  return failed_ ? kExitResultsLost : status;
}

}  // namespace session
