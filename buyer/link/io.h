// The two ends the agent talks through, behind function pointers so that the agent reads a pipe
// and writes a pipe while tests read and write memory.
#ifndef BUYER_LINK_IO_H_
#define BUYER_LINK_IO_H_

#include <cstddef>

#include <sys/types.h>

// A byte source with read(2)'s contract: bytes read, 0 at end of input, -1 on error.
struct Input {
  ssize_t (*read)(void* context, char* buffer, size_t size);
  void* context;
};

// A byte sink with write(2)'s contract: bytes written, -1 on error.
struct Output {
  ssize_t (*write)(void* context, const char* data, size_t size);
  void* context;
};

// An input that reads the descriptor *fd (retrying on EINTR).
Input FdInput(int* fd);
// An output that writes the descriptor *fd (retrying on EINTR).
Output FdOutput(int* fd);

#endif  // BUYER_LINK_IO_H_
