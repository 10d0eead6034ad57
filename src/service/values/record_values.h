#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "common/utc_time.h"
#include "store/store.h"

namespace palisard {

// The values an administrator types, read strictly: a typo is an error, never
// a different player or a different length of ban.

// A community id: a decimal number from 1 to 2^64 - 1, digits only.
Result ParseCommunityId(const std::string& text, uint64_t* id);
// A case number as `cases` lists it: a decimal number from 1.
Result ParseCaseId(const std::string& text, int64_t* id);
// A webhook's number as `webhook list` lists it, likewise.
Result ParseWebhookId(const std::string& text, int64_t* id);
// How long a ban lasts: "permanent" (nothing), or a whole number with a unit,
// "30m", "12h", "7d", "2w", up to 100 years.
Result ParseBanDuration(const std::string& text, std::optional<int64_t>* seconds);

}  // namespace palisard
