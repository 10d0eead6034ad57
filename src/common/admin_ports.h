#pragma once

#include <cstdint>

namespace palisard {

// The ports a copy's admin service may listen on; the other copies look for
// the host's in this range, from the first up.
inline constexpr uint16_t kFirstAdminPort = 3061;
inline constexpr uint16_t kLastAdminPort = 3072;

}  // namespace palisard
