#include "game/match_state.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace palisard {

uint32_t AddressToHostOrder(const Ipv4Bytes& address) {
  return (static_cast<uint32_t>(address[0]) << 24) | (static_cast<uint32_t>(address[1]) << 16) |
         (static_cast<uint32_t>(address[2]) << 8) | static_cast<uint32_t>(address[3]);
}

GameClientEntry GameClientEntry::For(const std::string& name, const Ipv4Bytes& address, uint16_t port,
                                     uint64_t id) {
  GameClientEntry entry;
  entry.SetName(name);
  entry.SetAddress(address);
  entry.SetPort(port);
  entry.SetCommunityId(id);
  return entry;
}

std::string GameClientEntry::Name() const {
  const char* text = reinterpret_cast<const char*>(bytes.data());
  return std::string(text, strnlen(text, kAddressOffset));
}

Ipv4Bytes GameClientEntry::Address() const {
  Ipv4Bytes address;
  std::memcpy(address.data(), bytes.data() + kAddressOffset, address.size());
  return address;
}

uint16_t GameClientEntry::Port() const { return ReadLe16(bytes.data() + kPortOffset); }

uint64_t GameClientEntry::CommunityId() const { return ReadLe64(bytes.data() + kCommunityIdOffset); }

void GameClientEntry::SetName(const std::string& name) {
  std::size_t length = std::min(name.size(), kAddressOffset - 1);
  std::memset(bytes.data(), 0, kAddressOffset);
  std::memcpy(bytes.data(), name.data(), length);
}

void GameClientEntry::SetAddress(const Ipv4Bytes& address) {
  std::memcpy(bytes.data() + kAddressOffset, address.data(), address.size());
}

void GameClientEntry::SetPort(uint16_t port) { WriteLe16(bytes.data() + kPortOffset, port); }

void GameClientEntry::SetCommunityId(uint64_t id) { WriteLe64(bytes.data() + kCommunityIdOffset, id); }

MatchState::MatchState() : clients(kDefaultMaxClients), players(kDefaultMaxClients) {}

void MatchState::ClearSlots() {
  std::fill(clients.begin(), clients.end(), GameClientEntry{});
  std::fill(players.begin(), players.end(), PlayerRecord{});
}

bool MatchState::Resize(int32_t newMaxClients) {
  if (newMaxClients < 1 || newMaxClients > kMaxClientsLimit) return false;
  maxClients = static_cast<uint32_t>(newMaxClients);
  clients.resize(maxClients);
  players.resize(maxClients);
  return true;
}

void MatchState::SyncPlayerRecords() {
  for (std::size_t i = 0; i < players.size(); ++i) {
    const GameClientEntry& entry = clients[i];
    PlayerRecord& record = players[i];
    if (entry.CommunityId() != record.communityId) {
      record = PlayerRecord{};
      record.votedIds.reserve(1);
    }
    record.ip = entry.Address();
    record.port = entry.Port();
    record.communityId = entry.CommunityId();
  }
}

uint32_t MatchState::CountVotesAgainst(uint64_t communityId) const {
  uint32_t count = 0;
  for (const PlayerRecord& record : players) {
    if (record.communityId == 0) continue;
    if (std::find(record.votedIds.begin(), record.votedIds.end(), communityId) != record.votedIds.end()) {
      ++count;
    }
  }
  return count;
}

}  // namespace palisard
