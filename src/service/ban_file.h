#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// The bans' export: JSON lines. The first line names the format and its
// version, {"format":"palisard-service-bans","version":1,...}; then one ban
// a line, oldest first:
//   {"ref":"...","player":"76561197960287930","reason":"...","by":"cli:alice",
//    "at":"2024-05-01T12:00:00Z","until":null,"lifted":null}
// with "until" a time and "lifted" {"by","at","reason"} where they apply.
// Ids are strings: they exceed what a JSON number holds exactly elsewhere.
inline constexpr const char* kBanFileFormat = "palisard-service-bans";
inline constexpr int kBanFileVersion = 1;

std::string BanFileHeader(UnixTime now);
std::string BanFileLine(const Ban& ban);

// What an import file holds: an export as above, or a plain list of ids, one
// a line ('#' begins a comment line). A listed id becomes a permanent ban
// with ref "list:ID", made by `actor` at `now`, its reason naming the file.
struct BanFile {
  std::vector<Ban> bans;
  bool plainList = false;
};

// Reads the whole file ("-": standard input) or nothing: a line that is not what the format says
// is an error naming the file and the line.
Result ReadBanFile(const std::string& path, const Actor& actor, UnixTime now, BanFile* file);

}  // namespace palisard
