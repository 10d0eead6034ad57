#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/ipv4.h"
#include "game/layout.h"

namespace palisard {

// One entry of the game's client table, kept in the game's own layout and
// read through its offsets.
struct GameClientEntry {
  std::array<uint8_t, layout::kClientSize> bytes{};

  // An entry for a player in the game's layout.
  static GameClientEntry For(const std::string& name, const Ipv4Bytes& address, uint16_t port, uint64_t id);

  // The NUL-terminated name, colour codes included; bounded by the address
  // field that follows it.
  std::string Name() const;
  Ipv4Bytes Address() const;
  uint16_t Port() const;
  // 0 means the slot is empty.
  uint64_t CommunityId() const;

  void SetName(const std::string& name);
  void SetAddress(const Ipv4Bytes& address);
  void SetPort(uint16_t port);
  void SetCommunityId(uint64_t id);
};

}  // namespace palisard
