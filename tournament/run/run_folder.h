// The runner's folder for the files of its real-clock sessions (scenario, port, results, logs),
// one sub-folder a session, under the temporary folder. The runner holds a lock on it while it
// lives; a folder whose runner died without removing it (kill -9) holds no lock, and the next
// runner to start removes it.
#ifndef TOURNAMENT_RUN_FOLDER_H_
#define TOURNAMENT_RUN_FOLDER_H_

#include <string>

namespace tournament {

class RunFolder {
 public:
  // Removes the stale folders under `parent`, then creates and locks this runner's own. Throws
  // std::runtime_error (one line) when it cannot.
  explicit RunFolder(const std::string& parent);
  // Removes the folder and everything in it.
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::string& path() const { return path_; }
  // A new empty folder for one session inside this one.
  std::string NewSessionFolder() const;

  // Removes every runner folder under `parent` whose runner is gone; returns how many. Other
  // files and folders there are left alone.
  static int RemoveStale(const std::string& parent);

  // $TMPDIR, or /tmp.
  static std::string TempParent();

 private:
  std::string path_;
  int lock_fd_ = -1;  // open on path_, flock()ed
};

}  // namespace tournament

#endif  // TOURNAMENT_RUN_FOLDER_H_
