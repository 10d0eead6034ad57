#include "service/cli/ban_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "common/ascii_text.h"
#include "service/values/record_values.h"
#include "store/ban_json.h"

namespace palisard {
namespace {

using Json = nlohmann::json;

// The times of a ban's JSON, as paths from its top: the export writes them
// in ISO 8601, the store's JSON of a ban holds Unix seconds.
const Json::json_pointer kBanTimes[] = {Json::json_pointer("/madeAt"), Json::json_pointer("/until"),
                                        Json::json_pointer("/lift/at")};

Result ReadBanLine(const std::string& line, Ban* ban) {
  Json object = Json::parse(line, nullptr, false);
  if (!object.is_object()) return Result::Invalid("not a JSON object");
  for (const Json::json_pointer& path : kBanTimes) {
    if (!object.contains(path) || !object[path].is_string()) continue;
    UnixTime time = 0;
    Result read = ParseUtcTime(object[path].get<std::string>(), &time);
    if (!read.ok()) return Result::Invalid(path.to_string().substr(1) + ": " + read.text());
    object[path] = time;
  }
  return BanFromJson(object, ban);
}

Result ReadHeader(const std::string& line) {
  const Json object = Json::parse(line, nullptr, false);
  const auto format = object.is_object() ? object.find("format") : object.end();
  if (!object.is_object() || format == object.end() || *format != kBanFileFormat) {
    return Result::Invalid(std::string("the first line does not name the format \"") + kBanFileFormat + "\"");
  }
  const auto version = object.find("version");
  if (version == object.end() || !version->is_number_integer() || *version < 1) {
    return Result::Invalid("the first line holds no format version");
  }
  if (*version > kBanFileVersion) {
    return Result::Invalid("format version " + version->dump() + " is newer than this program reads (" +
                           std::to_string(kBanFileVersion) + ")");
  }
  return Result::Ok();
}

}  // namespace

std::string BanFileHeader(UnixTime now) {
  return JsonText(Json{{"format", kBanFileFormat}, {"version", kBanFileVersion}, {"exported", FormatUtcTime(now)}});
}

std::string BanFileLine(const Ban& ban) {
  Json line = BanToJson(ban);
  for (const Json::json_pointer& path : kBanTimes) {
    if (line.contains(path) && line[path].is_number_integer()) line[path] = FormatUtcTime(line[path].get<UnixTime>());
  }
  return JsonText(line);
}

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
        result = ReadHeader(line);
        if (!result.ok()) return Result::Invalid(path + ":" + std::to_string(number) + ": " + result.text());
        continue;
      }
    }
    Ban ban;
    if (file->plainList) {
      result = ParseCommunityId(line, &ban.playerId);
      ban.reason = reason;
    } else {
      result = ReadBanLine(line, &ban);
    }
    if (!result.ok()) return Result::Invalid(path + ":" + std::to_string(number) + ": " + result.text());
    file->bans.push_back(std::move(ban));
  }
  if (in.bad()) return Result::Failed("cannot read " + path, errno);
  return Result::Ok();
}

}  // namespace palisard
