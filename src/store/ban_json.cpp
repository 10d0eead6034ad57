#include "store/ban_json.h"

#include "common/community_id.h"
#include "common/utc_time.h"

namespace palisard {
namespace {

Result BadField(const std::string& field) {
  return Result::Invalid("ban: \"" + field + "\" is missing or not what it should be");
}

nlohmann::json TimeJson(UnixTime time, BanTimes times) {
  return times == BanTimes::kUtcText ? nlohmann::json(FormatUtcTime(time)) : nlohmann::json(time);
}

bool ReadPlayerId(const nlohmann::json& json, uint64_t* id) {
  if (json.is_number_unsigned()) {
    *id = json.get<uint64_t>();
    return *id != 0;
  }
  if (!json.is_string()) return false;
  *id = ReadCommunityId(json.get_ref<const std::string&>()).value_or(0);
  return *id != 0;
}

// A text field: missing is allowed when `optional`, and reads as empty.
bool ReadText(const nlohmann::json& json, const char* name, bool optional, std::string* text) {
  auto found = json.find(name);
  if (found == json.end()) return optional;
  if (!found->is_string()) return false;
  *text = found->get<std::string>();
  return true;
}

// A time field, Unix seconds or UTC text; missing or null is allowed when
// `optional`, and reads as nothing. `path` names it in a failure.
Result ReadTime(const nlohmann::json& json, const char* name, const std::string& path, bool optional,
                std::optional<UnixTime>* time) {
  auto found = json.find(name);
  if (found == json.end() || found->is_null()) return optional ? Result::Ok() : BadField(path);
  if (found->is_number_integer()) {
    *time = found->get<UnixTime>();
    return Result::Ok();
  }
  if (!found->is_string()) return BadField(path);
  UnixTime read = 0;
  Result parsed = ParseUtcTime(found->get<std::string>(), &read);
  if (!parsed.ok()) return Result::Invalid(path + ": " + parsed.text());
  *time = read;
  return Result::Ok();
}

Result ReadLift(const nlohmann::json& json, std::optional<BanLift>* lift) {
  auto found = json.find("lift");
  if (found == json.end() || found->is_null()) return Result::Ok();
  if (!found->is_object()) return BadField("lift");
  BanLift read;
  std::optional<UnixTime> at;
  if (!ReadText(*found, "by", false, &read.by)) return BadField("lift.by");
  Result time = ReadTime(*found, "at", "lift.at", false, &at);
  if (!time.ok()) return time;
  if (!ReadText(*found, "reason", true, &read.reason)) return BadField("lift.reason");
  read.at = *at;
  *lift = read;
  return Result::Ok();
}

}  // namespace

nlohmann::json BanToJson(const Ban& ban, BanTimes times) {
  nlohmann::json json = {
      {"ref", ban.ref},
      {"playerId", std::to_string(ban.playerId)},
      {"reason", ban.reason},
      {"madeBy", ban.madeBy},
      {"madeAt", TimeJson(ban.madeAt, times)},
      {"until", ban.until ? TimeJson(*ban.until, times) : nlohmann::json(nullptr)},
  };
  if (ban.lift) {
    json["lift"] = {{"by", ban.lift->by}, {"at", TimeJson(ban.lift->at, times)}, {"reason", ban.lift->reason}};
  }
  return json;
}

Result BanFromJson(const nlohmann::json& json, Ban* ban) {
  if (!json.is_object()) return Result::Invalid("ban: not a JSON object");
  Ban read;
  auto id = json.find("playerId");
  if (id == json.end() || !ReadPlayerId(*id, &read.playerId)) return BadField("playerId");
  if (!ReadText(json, "ref", true, &read.ref)) return BadField("ref");
  if (!ReadText(json, "reason", false, &read.reason)) return BadField("reason");
  if (!ReadText(json, "madeBy", true, &read.madeBy)) return BadField("madeBy");
  std::optional<UnixTime> madeAt;
  Result result = ReadTime(json, "madeAt", "madeAt", true, &madeAt);
  if (result.ok()) result = ReadTime(json, "until", "until", true, &read.until);
  if (result.ok()) result = ReadLift(json, &read.lift);
  if (!result.ok()) return result;
  read.madeAt = madeAt.value_or(0);
  *ban = std::move(read);
  return Result::Ok();
}

std::string BanExportHeader(UnixTime now) {
  return JsonText({{"format", kBanExportFormat}, {"version", kBanExportVersion}, {"exported", FormatUtcTime(now)}});
}

Result ReadBanExportHeader(const std::string& line) {
  const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
  const auto format = object.is_object() ? object.find("format") : object.end();
  if (!object.is_object() || format == object.end() || *format != kBanExportFormat) {
    return Result::Invalid(std::string("the first line does not name the format \"") + kBanExportFormat + "\"");
  }
  const auto version = object.find("version");
  if (version == object.end() || !version->is_number_integer() || *version < 1) {
    return Result::Invalid("the first line holds no format version");
  }
  if (*version > kBanExportVersion) {
    return Result::Invalid("format version " + version->dump() + " is newer than this program reads (" +
                           std::to_string(kBanExportVersion) + ")");
  }
  return Result::Ok();
}

std::string BanExportLine(const Ban& ban) { return JsonText(BanToJson(ban, BanTimes::kUtcText)); }

Result ReadBanExportLine(const std::string& line, Ban* ban) {
  const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
  if (!object.is_object()) return Result::Invalid("not a JSON object");
  return BanFromJson(object, ban);
}

std::string JsonText(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace palisard
