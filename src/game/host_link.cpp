#include "game/host_link.h"

#include "common/admin_ports.h"

namespace palisard {

HostLink LinkOf(const MatchData& match) {
  return {match.ownId,         IsHosting(match),  match.gameFound,  match.serverIp,        match.serverGeneration,
          match.hostAdminPort, match.hostEnabled, match.registered, match.registrationKey, match.voteRequestedAtMs};
}

ServerUpdate FollowServer(MatchData& match, const Ipv4Bytes& serverIp, uint16_t serverPort) {
  ServerUpdate update;
  if (serverIp == match.serverIp) return update;  // a new port alone is no change
  update.changed = true;
  ++match.serverGeneration;
  match.hostId = 0;
  match.registrationKey = 0;
  match.hostEnabled = false;
  match.registered = false;
  match.serverIp = serverIp;
  match.hostAdminPort = kFirstAdminPort;
  // The old host's figures: kept, they would show on the new host's page.
  match.votesNeeded = 0;
  for (PlayerRecord& record : match.players) record.votesAgainst = 0;
  if (serverIp == Ipv4Bytes{0, 0, 0, 0}) return update;
  for (const GameClientEntry& entry : match.clients) {
    if (entry.Address() != serverIp || entry.Port() != serverPort) continue;
    match.hostId = entry.CommunityId();  // the last matching slot wins
    update.hostNames.push_back(entry.Name());
  }
  return update;
}

bool HostAnswered(MatchData& match, uint32_t serverGeneration) {
  if (serverGeneration != match.serverGeneration) return false;
  match.hostEnabled = true;
  return true;
}

void HostSilent(MatchData& match, uint32_t serverGeneration) {
  if (serverGeneration != match.serverGeneration) return;
  if (match.hostEnabled) {
    // The host's service may come back on any port, and its keys with a
    // fresh start are new ones.
    match.hostEnabled = false;
    match.registered = false;
    match.registrationKey = 0;
    match.hostAdminPort = kFirstAdminPort;
    return;
  }
  ++match.hostAdminPort;
  if (match.hostAdminPort < kFirstAdminPort || match.hostAdminPort > kLastAdminPort) {
    match.hostAdminPort = kFirstAdminPort;
  }
}

void SetRegistration(MatchData& match, uint32_t serverGeneration, bool registered, uint32_t key) {
  if (serverGeneration != match.serverGeneration) return;
  match.registered = registered;
  match.registrationKey = key;
}

void ApplyVoteTable(MatchData& match, uint32_t serverGeneration, uint32_t votesNeeded,
                    const std::vector<std::pair<uint64_t, uint32_t>>& counts) {
  if (serverGeneration != match.serverGeneration) return;
  match.votesNeeded = votesNeeded;
  // A player the table does not name has no votes there.
  for (PlayerRecord& record : match.players) record.votesAgainst = 0;
  for (const auto& [communityId, votes] : counts) {
    if (communityId == 0) continue;
    for (PlayerRecord& record : match.players) {
      if (record.communityId == communityId) record.votesAgainst = votes;
    }
  }
}

}  // namespace palisard
