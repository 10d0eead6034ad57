#include "service/cli/ban_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "common/ascii_text.h"
#include "service/values/record_values.h"
#include "store/ban_json.h"

namespace palisard {
Result ReadBanFile(const std::string& path, BanFile* file) {
  *file = BanFile();
  std::ifstream opened;
  const bool standardInput = path == "-";
  if (!standardInput) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      return Result::Invalid("cannot read " + path + ": a directory");
    }
    opened.open(path, std::ios::binary);
    if (!opened) {
      return Result::NotFound("cannot read " + path + ": " + std::strerror(errno), errno);
    }
  }
  std::istream& in = standardInput ? std::cin : opened;
  const std::string reason =
      "imported from " + (standardInput ? "standard input" : std::filesystem::path(path).filename().string());
  bool formatKnown = false;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte order mark
    line = std::string(Trimmed(line));
    if (line.empty() || line[0] == '#') continue;
    Result result = Result::Ok();
    if (!formatKnown) {
      formatKnown = true;
      file->plainList = line[0] != '{';
      if (!file->plainList) {
        result = ReadBanExportHeader(line);
        if (!result.ok()) return Result::Invalid(path + ":" + std::to_string(number) + ": " + result.text());
        continue;
      }
    }
    Ban ban;
    if (file->plainList) {
      result = ParseCommunityId(line, &ban.playerId);
      ban.reason = reason;
    } else {
      result = ReadBanExportLine(line, &ban);
    }
    if (!result.ok()) return Result::Invalid(path + ":" + std::to_string(number) + ": " + result.text());
    file->bans.push_back(std::move(ban));
  }
  if (in.bad()) return Result::Failed("cannot read " + path, errno);
  return Result::Ok();
}

}  // namespace palisard
