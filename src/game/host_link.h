#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "game/match_data.h"

namespace palisard {

// The rules of every copy's link to the host's admin service: which server,
// which port is tried, whether the host answered, this copy's registration.
// Each answer carries the server generation its exchange began with, and
// changes nothing when the server has changed since: it was the old host's.

// What the copy-to-host link needs of the match, without the slots.
struct HostLink {
  uint64_t ownId = 0;
  bool hosting = false;
  bool gameFound = false;
  Ipv4Bytes serverIp{};
  uint32_t serverGeneration = 0;
  uint16_t hostAdminPort = 0;
  bool hostEnabled = false;
  bool registered = false;
  uint32_t registrationKey = 0;
  std::optional<int64_t> voteRequestedAtMs;

  bool operator==(const HostLink&) const = default;
};

HostLink LinkOf(const MatchData& match);

// What a server change did, for the watcher to tell.
struct ServerUpdate {
  bool changed = false;
  // Names of the slots that matched the new server, in slot order.
  std::vector<std::string> hostNames;
};

// The server address read from the game. A new address (the port alone is
// no change) resets the link and finds the host among the slots: the last
// slot at that address and port.
ServerUpdate FollowServer(MatchData& match, const Ipv4Bytes& serverIp, uint16_t serverPort);

// The host answered a probe on the current port; false when that was the
// old server.
bool HostAnswered(MatchData& match, uint32_t serverGeneration);
// Nothing answered on the current port: the next one (the first past the
// last); or, when the host had answered before, the host is lost: a new
// search from the first port, without the registration it gave.
void HostSilent(MatchData& match, uint32_t serverGeneration);
void SetRegistration(MatchData& match, uint32_t serverGeneration, bool registered, uint32_t key);
// A whole vote table from the host: the threshold and, for every slot
// holding one of its ids, that id's count. Records with id 0 (the host's
// empty slots) are skipped.
void ApplyVoteTable(MatchData& match, uint32_t serverGeneration, uint32_t votesNeeded,
                    const std::vector<std::pair<uint64_t, uint32_t>>& counts);

}  // namespace palisard
