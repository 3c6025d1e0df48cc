// Writing to a descriptor that a peer may close at any time.
#ifndef WIRE_WRITE_ALL_H_
#define WIRE_WRITE_ALL_H_

#include <string_view>

namespace wire {

// Writes all of `data`, retrying short writes and interrupted calls. False when the descriptor
// fails (a reader that has gone away gives EPIPE: the caller must ignore SIGPIPE).
bool WriteAll(int fd, std::string_view data);

}  // namespace wire

#endif  // WIRE_WRITE_ALL_H_
