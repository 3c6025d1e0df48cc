// Network addresses written as HOST:PORT, as the market server listens on and the gateway connects
// to: "127.0.0.1:7411", "localhost:7411", "[::1]:7411".
#ifndef WIRE_ADDRESS_H_
#define WIRE_ADDRESS_H_

#include <cstdint>
#include <optional>
#include <string>

namespace wire {

struct Address {
  std::string host;  // without brackets
  uint16_t port = 0;
};

// Splits at the last colon; a host with colons must be in brackets. The port is 0 to 65535 in
// decimal digits; the host is not empty. Empty on any fault.
std::optional<Address> ParseAddress(const std::string& text);

// HOST:PORT, brackets around a host with a colon.
std::string FormatAddress(const Address& address);

}  // namespace wire

#endif  // WIRE_ADDRESS_H_
