#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// What an import file holds: the bans' export (store/ban_json.h), or a
// plain list of ids, one a line ('#' begins a comment). A listed id becomes
// a permanent ban without a ref, its reason naming the file; the store adds
// it unless the player is banned already.
struct BanFile {
  std::vector<Ban> bans;
  bool plainList = false;
};

// Reads the whole file ("-": standard input) or nothing: a line that is not what the format says
// is an error naming the file and the line.
Result ReadBanFile(const std::string& path, BanFile* file);

}  // namespace palisard
