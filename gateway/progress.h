// The one-line progress display shown on a terminal while a session runs.
#ifndef GATEWAY_PROGRESS_H_
#define GATEWAY_PROGRESS_H_

#include <string>

#include "engine/engine.h"

namespace gateway {

// "auction 2 of 3: 4 of 6 goods done"; empty before the first auction.
std::string ProgressText(const market::Progress& progress);

}  // namespace gateway

#endif  // GATEWAY_PROGRESS_H_
