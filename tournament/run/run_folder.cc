#include "tournament/run/run_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tournament {
namespace {

// A runner's folder is named so; it is created under another name and locked first, so that no
// runner ever sees one of these unlocked while its owner lives.
constexpr const char* kPrefix = "tournament-run-";
constexpr const char* kNewPrefix = "tournament-new-";

int LockedOpen(const std::string& path, bool wait) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string RunFolder::TempParent() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

int RunFolder::RemoveStale(const std::string& parent) {
  int removed = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(parent, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0 || !entry.is_directory(error)) continue;
    // Unlocked: its runner is gone (a lock dies with its process, even under kill -9).
    const int fd = LockedOpen(entry.path().string(), false);
    if (fd < 0) continue;
    std::filesystem::remove_all(entry.path(), error);
    close(fd);
    removed += error ? 0 : 1;
  }
  return removed;
}

RunFolder::RunFolder(const std::string& parent) {
  RemoveStale(parent);
  std::string pattern = parent + "/" + kNewPrefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a folder under " + parent + ": " +
                             std::strerror(errno));
  }
  lock_fd_ = LockedOpen(pattern, true);
  path_ = parent + "/" + kPrefix + pattern.substr(pattern.size() - 6);
  if (lock_fd_ < 0 || rename(pattern.c_str(), path_.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    if (lock_fd_ >= 0) close(lock_fd_);
    throw std::runtime_error("cannot set up " + path_ + ": " + why);
  }
}

RunFolder::~RunFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  close(lock_fd_);
}

std::string RunFolder::NewSessionFolder() const {
  std::string pattern = path_ + "/session-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a folder under " + path_ + ": " + std::strerror(errno));
  }
  return pattern;
}

}  // namespace tournament
