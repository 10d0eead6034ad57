#pragma once

#include <optional>
#include <string>

namespace palisard {

// The network a request came from, as reports and their limits key it: an
// IPv4 address's /24 ("203.0.113.0/24"), an IPv6 address's /64
// ("2001:db8:1:2::/64"); an IPv4-mapped IPv6 address counts as IPv4. One
// household or one small provider block is one voice, whichever address
// within it a reporter uses. Nothing for text that is not an address.
std::optional<std::string> SourceNetwork(const std::string& address);

}  // namespace palisard
