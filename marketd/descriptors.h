// How many connections the server can hold open within the process's descriptor limit.
#ifndef MARKETD_DESCRIPTORS_H_
#define MARKETD_DESCRIPTORS_H_

#include <cstdint>
#include <string>

namespace marketd {

// Descriptors the server needs besides its connections: standard streams, the listeners, the
// output files, the event loop, its timers and signals, with room to spare.
inline constexpr uint64_t kDescriptorsReserved = 32;

// The connections each listener may hold open at once.
struct DescriptorShares {
  int market = 0;   // buyers' connections (--max-connections)
  int monitor = 0;  // the live monitor's HTTP connections; 0 without the monitor
};

// Shares one budget between the two listeners: the descriptor limit `limit` less
// kDescriptorsReserved (at least 1). Each gets what it wants when both fit. Otherwise the market
// comes first, but leaves the monitor up to a quarter of the budget, and the monitor has what the
// market leaves. The monitor never takes what the market counts on: within the market's share the
// session keeps its slots for registered buyers (ServerOptions::admission_timeout). When either
// is lowered, *note says so in one line.
DescriptorShares ShareDescriptors(int market, int monitor, uint64_t limit, std::string* note);

// Raises the soft descriptor limit as far as the hard one allows, and returns the soft limit
// then in force.
uint64_t RaiseDescriptorLimit();

}  // namespace marketd

#endif  // MARKETD_DESCRIPTORS_H_
