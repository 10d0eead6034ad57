#pragma once

#include <nlohmann/json.hpp>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// A ban as JSON, as the audit records it and an export writes it: ids as
// strings (no JSON reader rounds them), times as Unix seconds, "until" null
// for a permanent ban, "lift" only once lifted. The store's own row id is
// left out: it means nothing to another store.
nlohmann::json BanToJson(const Ban& ban);

// Reads what BanToJson writes. kInvalid, naming the field, for anything
// else: a missing or mistyped field, an id that is not a decimal number
// above 0. "ref", "madeBy" and "madeAt" may be missing (ImportBans fills
// them in).
Result BanFromJson(const nlohmann::json& json, Ban* ban);

// The text of a JSON value; text that is not UTF-8 is written with
// replacement characters rather than failing.
std::string JsonText(const nlohmann::json& json);

}  // namespace palisard
