#include "wire/address.h"

namespace wire {

std::optional<Address> ParseAddress(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find_first_of("[]:") != std::string::npos) {
    return std::nullopt;  // an IPv6 host must be bracketed
  }
  if (host.empty() || host.find_first_of(" \t[]") != std::string::npos) return std::nullopt;
  if (port.empty() || port.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char ch : port) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(ch - '0');
  }
  if (value > 65535) return std::nullopt;
  return Address{host, static_cast<uint16_t>(value)};
}

std::string FormatAddress(const Address& address) {
  const bool bracket = address.host.find(':') != std::string::npos;
  return (bracket ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace wire
