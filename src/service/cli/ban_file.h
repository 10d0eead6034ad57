#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// The bans' export: JSON lines. The first line names the format and its
// version, {"format":"palisard-service-bans","version":1,...}; then one ban
// a line, oldest first, as the store writes a ban in JSON (ids as strings)
// but with its times in ISO 8601 UTC:
//   {"ref":"...","playerId":"76561197960287930","reason":"...","madeBy":"cli:alice",
//    "madeAt":"2024-05-01T12:00:00Z","until":null}
// and "lift" {"by","at","reason"} once lifted.
inline constexpr const char* kBanFileFormat = "palisard-service-bans";
inline constexpr int kBanFileVersion = 1;

std::string BanFileHeader(UnixTime now);
std::string BanFileLine(const Ban& ban);

// What an import file holds: an export as above, or a plain list of ids, one
// a line ('#' begins a comment). A listed id becomes a permanent ban without
// a ref, its reason naming the file; the store adds it unless the player is
// banned already.
struct BanFile {
  std::vector<Ban> bans;
  bool plainList = false;
};

// Reads the whole file ("-": standard input) or nothing: a line that is not what the format says
// is an error naming the file and the line.
Result ReadBanFile(const std::string& path, BanFile* file);

}  // namespace palisard
