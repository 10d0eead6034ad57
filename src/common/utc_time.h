#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"

namespace palisard {

// Times as people read them and the bans' export carries them: ISO 8601 in
// UTC to the second, "2024-05-01T12:00:00Z", from seconds since
// 1970-01-01 UTC. A time outside the years 0 to 9999 is written as its
// number of seconds.
std::string FormatUtcTime(int64_t time);
// Reads exactly that form; kInvalid for anything else, a day that does not
// exist (30 February) included.
Result ParseUtcTime(const std::string& text, int64_t* time);

}  // namespace palisard
