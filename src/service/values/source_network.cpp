#include "service/values/source_network.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

namespace palisard {
namespace {

std::string Ipv4Network(const uint8_t* bytes) {
  char text[INET_ADDRSTRLEN];
  const uint8_t network[4] = {bytes[0], bytes[1], bytes[2], 0};
  inet_ntop(AF_INET, network, text, sizeof(text));
  return std::string(text) + "/24";
}

}  // namespace

std::optional<std::string> SourceNetwork(const std::string& address) {
  uint8_t bytes[16];
  if (inet_pton(AF_INET, address.c_str(), bytes) == 1) return Ipv4Network(bytes);
  if (inet_pton(AF_INET6, address.c_str(), bytes) != 1) return std::nullopt;
  static constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(bytes, kMappedPrefix, sizeof(kMappedPrefix)) == 0) return Ipv4Network(bytes + 12);
  std::memset(bytes + 8, 0, 8);
  char text[INET6_ADDRSTRLEN];
  inet_ntop(AF_INET6, bytes, text, sizeof(text));
  return std::string(text) + "/64";
}

}  // namespace palisard
