#include "cli/version.h"

// MARKET_VERSION is set on this file alone by cli/CMakeLists.txt, from project(): a new version
// recompiles one file.
namespace cli {

const char* Version() { return MARKET_VERSION; }

}  // namespace cli
