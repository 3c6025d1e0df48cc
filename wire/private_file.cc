#include "wire/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace wire {

std::FILE* OpenPrivate(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0077) != 0) {
    fchmod(fd, 0600);  // an older file keeps no wider access; failing that, it is still written
  }
  std::FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

}  // namespace wire
