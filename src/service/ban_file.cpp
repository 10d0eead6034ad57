#include "service/ban_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "service/cli_values.h"

namespace palisard {
namespace {

using Json = nlohmann::json;

Result Invalid(std::string text) { return Result::Failure(Result::Kind::kInvalid, 0, std::move(text)); }

// Texts that are not UTF-8 (a reason typed in another encoding) are written
// with U+FFFD rather than making the export fail.
std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Result ReadText(const Json& object, const char* key, std::string* value) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return Invalid(std::string("\"") + key + "\" is not a string");
  *value = found->get<std::string>();
  return Result::Ok();
}

Result ReadTime(const Json& object, const char* key, UnixTime* time) {
  std::string text;
  Result result = ReadText(object, key, &text);
  return result.ok() ? ParseUtcTime(text, time) : result;
}

Result ReadLift(const Json& object, std::optional<BanLift>* lift) {
  const auto found = object.find("lifted");
  if (found == object.end() || found->is_null()) return Result::Ok();
  if (!found->is_object()) return Invalid("\"lifted\" is neither null nor an object");
  BanLift read;
  Result result = ReadText(*found, "by", &read.by);
  if (result.ok()) result = ReadText(*found, "reason", &read.reason);
  if (result.ok()) result = ReadTime(*found, "at", &read.at);
  if (result.ok()) *lift = read;
  return result;
}

Result ReadBanLine(const std::string& line, Ban* ban) {
  const Json object = Json::parse(line, nullptr, false);
  if (!object.is_object()) return Invalid("not a JSON object");
  std::string player;
  Result result = ReadText(object, "ref", &ban->ref);
  if (result.ok() && ban->ref.empty()) result = Invalid("\"ref\" is empty");
  if (result.ok()) result = ReadText(object, "player", &player);
  if (result.ok()) result = ParseCommunityId(player, &ban->playerId);
  if (result.ok()) result = ReadText(object, "reason", &ban->reason);
  if (result.ok()) result = ReadText(object, "by", &ban->madeBy);
  if (result.ok()) result = ReadTime(object, "at", &ban->madeAt);
  const auto until = object.find("until");
  if (result.ok() && until != object.end() && !until->is_null()) {
    UnixTime time = 0;
    result = ReadTime(object, "until", &time);
    ban->until = time;
  }
  if (result.ok()) result = ReadLift(object, &ban->lift);
  return result;
}

Result ReadHeader(const std::string& line) {
  const Json object = Json::parse(line, nullptr, false);
  const auto format = object.is_object() ? object.find("format") : object.end();
  if (!object.is_object() || format == object.end() || *format != kBanFileFormat) {
    return Invalid(std::string("the first line does not name the format \"") + kBanFileFormat + "\"");
  }
  const auto version = object.find("version");
  if (version == object.end() || !version->is_number_integer() || *version < 1) {
    return Invalid("the first line holds no format version");
  }
  if (*version > kBanFileVersion) {
    return Invalid("format version " + version->dump() + " is newer than this program reads (" +
                   std::to_string(kBanFileVersion) + ")");
  }
  return Result::Ok();
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string BanFileHeader(UnixTime now) {
  return Dump(Json{{"format", kBanFileFormat}, {"version", kBanFileVersion}, {"exported", FormatUtcTime(now)}});
}

std::string BanFileLine(const Ban& ban) {
  Json line{{"ref", ban.ref},   {"player", std::to_string(ban.playerId)}, {"reason", ban.reason},
            {"by", ban.madeBy}, {"at", FormatUtcTime(ban.madeAt)},        {"until", nullptr},
            {"lifted", nullptr}};
  if (ban.until) line["until"] = FormatUtcTime(*ban.until);
  if (ban.lift) {
    line["lifted"] = Json{{"by", ban.lift->by}, {"at", FormatUtcTime(ban.lift->at)}, {"reason", ban.lift->reason}};
  }
  return Dump(line);
}

Result ReadBanFile(const std::string& path, const Actor& actor, UnixTime now, BanFile* file) {
  *file = BanFile();
  std::ifstream opened;
  const bool standardInput = path == "-";
  if (!standardInput) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      return Result::Failure(Result::Kind::kInvalid, 0, "cannot read " + path + ": a directory");
    }
    opened.open(path, std::ios::binary);
    if (!opened) {
      return Result::Failure(Result::Kind::kNotFound, errno, "cannot read " + path + ": " + std::strerror(errno));
    }
  }
  std::istream& in = standardInput ? std::cin : opened;
  const std::string reason =
      "imported from " + (standardInput ? "standard input" : std::filesystem::path(path).filename().string());
  bool formatKnown = false;
  std::set<uint64_t> listed;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte order mark
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    Result result = Result::Ok();
    if (!formatKnown) {
      formatKnown = true;
      file->plainList = line[0] != '{';
      if (!file->plainList) {
        result = ReadHeader(line);
        if (!result.ok()) return Invalid(path + ":" + std::to_string(number) + ": " + result.text());
        continue;
      }
    }
    Ban ban;
    if (file->plainList) {
      result = ParseCommunityId(line, &ban.playerId);
      if (result.ok() && !listed.insert(ban.playerId).second) continue;
      ban.ref = "list:" + std::to_string(ban.playerId);
      ban.reason = reason;
      ban.madeBy = actor.name;
      ban.madeAt = now;
    } else {
      result = ReadBanLine(line, &ban);
    }
    if (!result.ok()) return Invalid(path + ":" + std::to_string(number) + ": " + result.text());
    file->bans.push_back(std::move(ban));
  }
  if (in.bad()) return Result::Failure(Result::Kind::kFailed, errno, "cannot read " + path);
  return Result::Ok();
}

}  // namespace palisard
