#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/result.h"

namespace palisard {

// Resolves a host name to IPv4 addresses in host order (ResolveIpv4, or a
// test's stand-in).
using Resolver = std::function<Result(const std::string& host, std::vector<uint32_t>* addresses)>;

// `resolve(host)` on a thread of its own, waited for at most `limit`: its
// result, or kTimedOut when it took longer (its late answer is dropped),
// kUnavailable when too many earlier lookups are still stalled. The
// system's resolver has no time limit of its own.
Result ResolveWithin(const Resolver& resolve, const std::string& host, std::chrono::milliseconds limit,
                     std::vector<uint32_t>* addresses);

}  // namespace palisard
