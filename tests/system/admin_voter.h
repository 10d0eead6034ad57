#pragma once

#include <cstdint>
#include <string>

#include "helpers/network_namespace.h"

namespace palisard {

// Plays another player's copy towards the hosting copy's admin service on
// 127.0.0.1:`port` in `machine`: registers as `voterId` from
// `voterAddress` (a loopback address, the one the game shows for that
// player) and votes to kick `targetId`. Returns the host's text answer, or
// what went wrong.
std::string VoteKickThroughAdminPort(const NetworkNamespace& machine, uint16_t port, uint64_t voterId,
                                     uint32_t voterAddress, uint64_t targetId);

}  // namespace palisard
