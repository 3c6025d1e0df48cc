// The project's version: the one given to CMake's project(), shared by every program.
#ifndef CLI_VERSION_H_
#define CLI_VERSION_H_

namespace cli {

// Such as "1.0".
const char* Version();

}  // namespace cli

#endif  // CLI_VERSION_H_
