#include "store/ban_json.h"

#include <charconv>

#include "common/community_id.h"

namespace palisard {
namespace {

Result Invalid(const std::string& field) {
  return Result::Failure(Result::Kind::kInvalid, 0, "ban: \"" + field + "\" is missing or not what it should be");
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

bool ReadTime(const nlohmann::json& json, const char* name, bool optional, std::optional<UnixTime>* time) {
  auto found = json.find(name);
  if (found == json.end() || found->is_null()) return optional;
  if (!found->is_number_integer()) return false;
  *time = found->get<UnixTime>();
  return true;
}

Result ReadLift(const nlohmann::json& json, std::optional<BanLift>* lift) {
  auto found = json.find("lift");
  if (found == json.end() || found->is_null()) return Result::Ok();
  if (!found->is_object()) return Invalid("lift");
  BanLift read;
  std::optional<UnixTime> at;
  if (!ReadText(*found, "by", false, &read.by)) return Invalid("lift.by");
  if (!ReadTime(*found, "at", false, &at)) return Invalid("lift.at");
  if (!ReadText(*found, "reason", true, &read.reason)) return Invalid("lift.reason");
  read.at = *at;
  *lift = read;
  return Result::Ok();
}

}  // namespace

nlohmann::json BanToJson(const Ban& ban) {
  nlohmann::json json = {
      {"ref", ban.ref},       {"playerId", std::to_string(ban.playerId)},
      {"reason", ban.reason}, {"madeBy", ban.madeBy},
      {"madeAt", ban.madeAt}, {"until", ban.until ? nlohmann::json(*ban.until) : nlohmann::json(nullptr)},
  };
  if (ban.lift) json["lift"] = {{"by", ban.lift->by}, {"at", ban.lift->at}, {"reason", ban.lift->reason}};
  return json;
}

Result BanFromJson(const nlohmann::json& json, Ban* ban) {
  if (!json.is_object()) return Result::Failure(Result::Kind::kInvalid, 0, "ban: not a JSON object");
  Ban read;
  auto id = json.find("playerId");
  if (id == json.end() || !ReadPlayerId(*id, &read.playerId)) return Invalid("playerId");
  if (!ReadText(json, "ref", true, &read.ref)) return Invalid("ref");
  if (!ReadText(json, "reason", false, &read.reason)) return Invalid("reason");
  if (!ReadText(json, "madeBy", true, &read.madeBy)) return Invalid("madeBy");
  std::optional<UnixTime> madeAt;
  if (!ReadTime(json, "madeAt", true, &madeAt)) return Invalid("madeAt");
  read.madeAt = madeAt.value_or(0);
  if (!ReadTime(json, "until", true, &read.until)) return Invalid("until");
  Result lift = ReadLift(json, &read.lift);
  if (!lift.ok()) return lift;
  *ban = std::move(read);
  return Result::Ok();
}

std::string JsonText(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace palisard
