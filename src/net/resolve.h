#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace palisard {

// Resolves a host name to IPv4 addresses in host order (ResolveIpv4, or a
// test's stand-in).
using Resolver = std::function<std::vector<uint32_t>(const std::string& host)>;

// `resolve(host)` on a thread of its own, waited for at most `limit`:
// nothing when it took longer (its late answer is dropped) or when too many
// earlier lookups are still stalled. The system's resolver has no time limit
// of its own.
std::optional<std::vector<uint32_t>> ResolveWithin(const Resolver& resolve, const std::string& host,
                                                   std::chrono::milliseconds limit);

}  // namespace palisard
