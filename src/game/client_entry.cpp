#include "game/client_entry.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace palisard {

using namespace layout;

GameClientEntry GameClientEntry::For(const std::string& name, const Ipv4Bytes& address, uint16_t port, uint64_t id) {
  GameClientEntry entry;
  entry.SetName(name);
  entry.SetAddress(address);
  entry.SetPort(port);
  entry.SetCommunityId(id);
  return entry;
}

std::string GameClientEntry::Name() const {
  const char* text = reinterpret_cast<const char*>(bytes.data() + kClientNameOffset);
  return std::string(text, strnlen(text, kClientAddressOffset - kClientNameOffset));
}

Ipv4Bytes GameClientEntry::Address() const {
  Ipv4Bytes address;
  std::memcpy(address.data(), bytes.data() + kClientAddressOffset, address.size());
  return address;
}

uint16_t GameClientEntry::Port() const { return ReadLe16(bytes.data() + kClientPortOffset); }

uint64_t GameClientEntry::CommunityId() const { return ReadLe64(bytes.data() + kClientIdOffset); }

void GameClientEntry::SetName(const std::string& name) {
  const std::size_t room = kClientAddressOffset - kClientNameOffset;
  std::memset(bytes.data() + kClientNameOffset, 0, room);
  std::memcpy(bytes.data() + kClientNameOffset, name.data(), std::min(name.size(), room - 1));
}

void GameClientEntry::SetAddress(const Ipv4Bytes& address) {
  std::memcpy(bytes.data() + kClientAddressOffset, address.data(), address.size());
}

void GameClientEntry::SetPort(uint16_t port) { WriteLe16(bytes.data() + kClientPortOffset, port); }

void GameClientEntry::SetCommunityId(uint64_t id) { WriteLe64(bytes.data() + kClientIdOffset, id); }

}  // namespace palisard
