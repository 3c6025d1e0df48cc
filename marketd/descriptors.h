// How many connections the server can hold open within the process's descriptor limit.
#ifndef MARKETD_DESCRIPTORS_H_
#define MARKETD_DESCRIPTORS_H_

#include <cstdint>
#include <string>

namespace marketd {

// Descriptors the server needs besides its connections: standard streams, the listener, the
// output files, the event loop, its timers and signals, with room to spare.
inline constexpr uint64_t kDescriptorsReserved = 32;

// The connections that fit in a descriptor limit of `limit`: `wanted` if it fits, else limit less
// kDescriptorsReserved (at least 1). When lowered, *note says so in one line.
int ConnectionsWithin(int wanted, uint64_t limit, std::string* note);

// Raises the soft descriptor limit as far as the hard one allows, and returns the soft limit
// then in force.
uint64_t RaiseDescriptorLimit();

}  // namespace marketd

#endif  // MARKETD_DESCRIPTORS_H_
