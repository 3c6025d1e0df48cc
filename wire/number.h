// Whole numbers as they are written in settings and on command lines.
#ifndef WIRE_NUMBER_H_
#define WIRE_NUMBER_H_

#include <cstdint>
#include <optional>
#include <string>

namespace wire {

// A number written as decimal digits only (no sign, no spaces), within 64 bits; empty otherwise.
std::optional<uint64_t> ParseUint64(const std::string& text);

}  // namespace wire

#endif  // WIRE_NUMBER_H_
