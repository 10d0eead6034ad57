#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// A ban as JSON: ids as strings (no JSON reader rounds them), "until" null
// for a permanent ban, "lift" only once lifted. The store's own row id is
// left out: it means nothing to another store. The audit writes its times
// as Unix seconds; the export as UTC text for people
// ("2024-05-01T12:00:00Z").
enum class BanTimes { kUnixSeconds, kUtcText };
nlohmann::json BanToJson(const Ban& ban, BanTimes times = BanTimes::kUnixSeconds);

// Reads what BanToJson writes, its times in either form. kInvalid, naming
// the field, for anything else: a missing or mistyped field, an id that is
// not a decimal number above 0, a time that is not one. "ref", "madeBy"
// and "madeAt" may be missing (ImportBans fills them in).
Result BanFromJson(const nlohmann::json& json, Ban* ban);

// The bans' export: JSON lines. The first line names the format and its
// version, {"exported":"...","format":"palisard-service-bans","version":1};
// then one ban a line, oldest first, as BanToJson writes it with its times
// as UTC text:
//   {"madeAt":"2024-05-01T12:00:00Z","madeBy":"cli:alice","playerId":"76561197960287930",
//    "reason":"...","ref":"...","until":null}
// and "lift" {"at","by","reason"} once lifted.
inline constexpr const char* kBanExportFormat = "palisard-service-bans";
inline constexpr int kBanExportVersion = 1;

std::string BanExportHeader(UnixTime now);
// Ok for the first line of an export this program reads.
Result ReadBanExportHeader(const std::string& line);
std::string BanExportLine(const Ban& ban);
Result ReadBanExportLine(const std::string& line, Ban* ban);

// The text of a JSON value; text that is not UTF-8 is written with
// replacement characters rather than failing.
std::string JsonText(const nlohmann::json& json);

}  // namespace palisard
