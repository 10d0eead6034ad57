#include "game/match_data.h"

#include <algorithm>

namespace palisard {

MatchData::MatchData() : clients(kDefaultMaxClients), players(kDefaultMaxClients) {}

void MatchData::ClearSlots() {
  std::fill(clients.begin(), clients.end(), GameClientEntry{});
  std::fill(players.begin(), players.end(), PlayerRecord{});
}

bool MatchData::Resize(int32_t newMaxClients) {
  if (newMaxClients < 1 || newMaxClients > kMaxClientsLimit) return false;
  maxClients = static_cast<uint32_t>(newMaxClients);
  clients.resize(maxClients);
  players.resize(maxClients);
  return true;
}

void MatchData::SyncPlayerRecords() {
  for (std::size_t i = 0; i < players.size(); ++i) {
    const GameClientEntry& entry = clients[i];
    PlayerRecord& record = players[i];
    if (entry.CommunityId() != record.communityId) record = PlayerRecord{};
    record.ip = entry.Address();
    record.port = entry.Port();
    record.communityId = entry.CommunityId();
  }
}

std::optional<HostSeat> WhoHosts(const MatchData& match) {
  if (match.serverIp == Ipv4Bytes{0, 0, 0, 0} || match.hostId == 0) return std::nullopt;
  std::optional<HostSeat> seat;
  for (std::size_t i = 0; i < match.clients.size(); ++i) {
    if (match.clients[i].CommunityId() == match.hostId) seat = HostSeat{match.hostId, i};
  }
  return seat;
}

bool IsHosting(const MatchData& match) { return match.hostId == match.ownId; }

}  // namespace palisard
