#pragma once

#include <cstdint>
#include <vector>

namespace palisard {

// This machine's own IPv4 addresses on its network interfaces that are up
// (host order), loopback left out; empty when the system cannot tell.
std::vector<uint32_t> LocalIpv4Addresses();

}  // namespace palisard
