// Output files only their owner may read: a session's results and transcript hold who logged in,
// from where, and what they did.
#ifndef WIRE_PRIVATE_FILE_H_
#define WIRE_PRIVATE_FILE_H_

#include <cstdio>
#include <string>

namespace wire {

// Creates or empties `path` for writing, readable and writable by its owner only (0600; a
// regular file that already existed is made so too). nullptr, with errno set, when it cannot.
std::FILE* OpenPrivate(const std::string& path);

}  // namespace wire

#endif  // WIRE_PRIVATE_FILE_H_
