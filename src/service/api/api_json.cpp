#include "service/api/api_json.h"

#include "common/utc_time.h"
#include "store/ban_json.h"

namespace palisard {
namespace {

using nlohmann::json;

json ReportJson(const Report& report) {
  return {{"reporterId", std::to_string(report.reporterId)},
          {"reportedId", std::to_string(report.reportedId)},
          {"network", report.network},
          {"at", FormatUtcTime(report.at)},
          {"caseId", report.caseId != 0 ? json(report.caseId) : json(nullptr)}};
}

json AppealJson(const Appeal& appeal) {
  json made = {{"appealId", appeal.id},
               {"playerId", std::to_string(appeal.playerId)},
               {"text", appeal.text},
               {"at", FormatUtcTime(appeal.madeAt)}};
  if (appeal.closing) made["decision"] = appeal.closing->decision;
  return made;
}

template <typename Record>
json ListJson(const std::vector<Record>& records, json (*write)(const Record&)) {
  json list = json::array();
  for (const Record& record : records) list.push_back(write(record));
  return list;
}

// An audit line's record as it was written; text that is not JSON (none
// the store writes) as text.
json Recorded(const std::string& text) {
  if (text.empty()) return nullptr;
  json parsed = json::parse(text, nullptr, false);
  return parsed.is_discarded() ? json(text) : parsed;
}

}  // namespace

std::optional<Ban> BanInForce(const std::vector<Ban>& bans, UnixTime now) {
  for (const Ban& ban : bans) {
    if (ban.InForce(now)) return ban;
  }
  return std::nullopt;
}

json PublicPlayerJson(uint64_t playerId, const std::optional<Ban>& inForce) {
  json player = {{"playerId", std::to_string(playerId)}, {"banned", inForce.has_value()}};
  if (inForce) {
    player["reason"] = inForce->reason;
    player["since"] = FormatUtcTime(inForce->madeAt);
    player["until"] = inForce->until ? json(FormatUtcTime(*inForce->until)) : json(nullptr);
  }
  return player;
}

json BanJson(const Ban& ban, UnixTime now) {
  json made = BanToJson(ban, BanTimes::kUtcText);
  made["inForce"] = ban.InForce(now);
  return made;
}

json CaseJson(const Case& c) {
  json made = {{"caseId", c.id},
               {"playerId", std::to_string(c.playerId)},
               {"openedAt", FormatUtcTime(c.openedAt)},
               {"reports", c.reports},
               {"networks", c.networks},
               {"reporters", c.reporters}};
  if (c.reports > 0) {
    made["firstReportAt"] = FormatUtcTime(c.firstReportAt);
    made["lastReportAt"] = FormatUtcTime(c.lastReportAt);
  }
  if (c.closing) {
    made["decision"] = c.closing->decision;
    made["closedBy"] = c.closing->by;
    made["closedAt"] = FormatUtcTime(c.closing->at);
    made["reason"] = c.closing->reason;
  }
  return made;
}

json PlayerJson(uint64_t playerId, const PlayerFile& file, UnixTime now) {
  json bans = json::array();
  for (const Ban& ban : file.bans) bans.push_back(BanJson(ban, now));
  return {{"playerId", std::to_string(playerId)},
          {"banned", BanInForce(file.bans, now).has_value()},
          {"bans", std::move(bans)},
          {"cases", ListJson(file.cases, CaseJson)},
          {"reports", ListJson(file.reports, ReportJson)},
          {"appeals", ListJson(file.appeals, AppealJson)}};
}

json AuditJson(const AuditEntry& entry) {
  json line = {{"id", entry.id},
               {"at", FormatUtcTime(entry.at)},
               {"actor", entry.actor},
               {"from", entry.from},
               {"action", entry.action}};
  if (entry.playerId != 0) line["playerId"] = std::to_string(entry.playerId);
  if (!entry.before.empty()) line["before"] = Recorded(entry.before);
  if (!entry.after.empty()) line["after"] = Recorded(entry.after);
  return line;
}

}  // namespace palisard
