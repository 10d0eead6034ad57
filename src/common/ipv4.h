#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace palisard {

// An IPv4 address as the game stores it: four bytes, first octet first.
using Ipv4Bytes = std::array<uint8_t, 4>;

// 127.0.0.1 in host order: where this machine reaches itself.
inline constexpr uint32_t kLoopbackAddress = 0x7F000001;

// Any address of 127.0.0.0/8 (host order): this machine.
inline bool IsLoopback(uint32_t hostOrderAddress) { return (hostOrderAddress >> 24) == 127; }

// The address as one host-order value (first octet in the top 8 bits), the
// form the firewall and the sockets take.
inline uint32_t AddressToHostOrder(const Ipv4Bytes& address) {
  return (static_cast<uint32_t>(address[0]) << 24) | (static_cast<uint32_t>(address[1]) << 16) |
         (static_cast<uint32_t>(address[2]) << 8) | static_cast<uint32_t>(address[3]);
}

// "a.b.c.d" of a host-order address.
inline std::string DottedAddress(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace palisard
