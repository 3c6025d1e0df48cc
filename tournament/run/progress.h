// The one progress line of a run on a terminal: sessions done of the total, the rate and the time
// left, rewritten in place. Time comes from the caller, so the line is the same on any machine.
#ifndef TOURNAMENT_PROGRESS_H_
#define TOURNAMENT_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace tournament {

// "done/total sessions, R/s, T left": the rate over the sessions run since `elapsed` began (those
// found stored before do not count), the time left at that rate; "--" until one has run.
std::string ProgressLine(int64_t done, int64_t total, int64_t run_here,
                         std::chrono::milliseconds elapsed);

}  // namespace tournament

#endif  // TOURNAMENT_PROGRESS_H_
