// Writing to a descriptor that a peer may close at any time.
#ifndef GATEWAY_OUTPUT_H_
#define GATEWAY_OUTPUT_H_

#include <string_view>

namespace gateway {

// Writes all of `data`, retrying short writes and interrupted calls. False when the descriptor
// fails (a reader that has gone away gives EPIPE: the caller must ignore SIGPIPE).
bool WriteAll(int fd, std::string_view data);

}  // namespace gateway

#endif  // GATEWAY_OUTPUT_H_
