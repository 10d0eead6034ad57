#pragma once

#include <nlohmann/json.hpp>
#include <optional>

#include "store/store.h"

namespace palisard {

// The API's records as JSON, as openapi.json beside this file describes
// them: ids as decimal strings (no JSON reader rounds them), times as UTC
// text, a field that has no value left out (or null where the description
// says so).

// What a player's public page shows: whether a ban is in force, and while
// one is, why, since when and until when.
nlohmann::json PublicPlayerJson(uint64_t playerId, const std::optional<Ban>& inForce);
// Everything the store holds about him, for the moderators' bots.
nlohmann::json PlayerJson(uint64_t playerId, const PlayerFile& file, UnixTime now);
nlohmann::json BanJson(const Ban& ban, UnixTime now);
nlohmann::json CaseJson(const Case& c);
// The record before and after a change as JSON values, not texts.
nlohmann::json AuditJson(const AuditEntry& entry);

// The ban of `bans` in force at `now`, if any.
std::optional<Ban> BanInForce(const std::vector<Ban>& bans, UnixTime now);

}  // namespace palisard
