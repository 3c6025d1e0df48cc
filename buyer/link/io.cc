#include "buyer/link/io.h"

#include <cerrno>

#include <unistd.h>

namespace {

ssize_t ReadFd(void* context, char* buffer, size_t size) {
  int fd = *static_cast<int*>(context);
  for (;;) {
    ssize_t n = read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t WriteFd(void* context, const char* data, size_t size) {
  int fd = *static_cast<int*>(context);
  for (;;) {
    ssize_t n = write(fd, data, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

Input FdInput(int* fd) { return Input{ReadFd, fd}; }
Output FdOutput(int* fd) { return Output{WriteFd, fd}; }
