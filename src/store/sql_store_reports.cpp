// Reports, their limits and cases, and the standings GetBanList answers.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "store/ban_json.h"
#include "store/sql_store.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

constexpr UnixTime kHour = 3600;
constexpr UnixTime kDay = 24 * kHour;
constexpr int64_t kMilli = 1000;  // a bucket's tokens are kept in thousandths

// The bucket's tokens at `now`: what it held at `updatedAt` plus the refill
// since, never above the burst. A clock behind the last update adds nothing.
int64_t RefilledMilliTokens(int64_t stored, UnixTime updatedAt, UnixTime now, double burst, double perHour) {
  double capacity = burst * kMilli;
  double elapsed = static_cast<double>(std::max<UnixTime>(0, now - updatedAt));
  double refilled = static_cast<double>(stored) + elapsed * perHour * kMilli / kHour;
  return std::llround(std::min(capacity, refilled));
}

// The reports table: its columns, a row as a Report, and a Report as a
// row. A report of a player banned at the time is in no case (0).
const SqlColumns kReportColumns({"id", "reporter_id", "reported_id", "network", "reported_at", "case_id"});

Result ReadReport(const SqlRow& row, Report* report) {
  SqlFields fields(kReportColumns, row);
  *report = {fields.Int("id"),      fields.PlayerId("reporter_id"), fields.PlayerId("reported_id"),
             fields.Text("network"), fields.Int("reported_at"),      fields.OptionalInt("case_id").value_or(0)};
  return fields.result();
}

SqlWrite ReportRow(const Report& report) {
  SqlWrite row;
  row.Set("reporter_id", SqlId(report.reporterId)).Set("reported_id", SqlId(report.reportedId));
  row.Set("network", report.network).Set("reported_at", report.at);
  return row.Set("case_id", report.caseId != 0 ? SqlValue(report.caseId) : nullptr);
}

// The cases table with each case's reports counted: its columns, and a
// row as a Case.
const SqlColumns kCaseColumns({"c.id", "c.player_id", "c.opened_at", "c.decision", "c.closed_by", "c.closed_at",
                               "c.close_reason", "COUNT(r.id) AS reports", "COUNT(DISTINCT r.network) AS networks",
                               "COUNT(DISTINCT r.reporter_id) AS reporters", "MIN(r.reported_at) AS first_report",
                               "MAX(r.reported_at) AS last_report"});

// A case is opened by its first report, so it has one.
Result ReadCase(const SqlRow& row, Case* c) {
  SqlFields fields(kCaseColumns, row);
  c->id = fields.Int("id");
  c->playerId = fields.PlayerId("player_id");
  c->openedAt = fields.Int("opened_at");
  if (const std::optional<UnixTime> closedAt = fields.OptionalInt("closed_at")) {
    c->closing = CaseClosing{fields.Text("decision"), fields.Text("closed_by"), *closedAt, fields.Text("close_reason")};
  }
  c->reports = static_cast<uint32_t>(fields.Int("reports"));
  c->networks = static_cast<uint32_t>(fields.Int("networks"));
  c->reporters = static_cast<uint32_t>(fields.Int("reporters"));
  c->firstReportAt = fields.Int("first_report");
  c->lastReportAt = fields.Int("last_report");
  return fields.result();
}

}  // namespace

Result SqlStore::Standings(const std::vector<uint64_t>& ids, UnixTime now, UnixTime scoreSince,
                           std::vector<Standing>* standings) {
  standings->clear();
  if (ids.empty()) return Result::Ok();
  // At $2 and since $3, of the asked player a.
  static const SqlColumns kStandingColumns(
      {"a.player_id",
       "CASE WHEN EXISTS (SELECT 1 FROM bans WHERE bans.player_id = a.player_id AND " + InForce(2) +
           ") THEN 1 ELSE 0 END AS banned",
       // Most players were never reported: their score costs no count.
       "CASE WHEN EXISTS (SELECT 1 FROM reports r WHERE r.reported_id = a.player_id AND r.reported_at >= $3) "
       "THEN (SELECT COUNT(DISTINCT r.network) FROM reports r WHERE r.reported_id = a.player_id AND "
       "r.reported_at >= $3) ELSE 0 END AS score"});
  nlohmann::json asked = nlohmann::json::array();
  for (uint64_t id : ids) asked.push_back(SqlId(id));
  std::vector<SqlRow> rows;
  // One statement for any number of ids. An id asked twice is looked up
  // twice: removing it would cost a sort on every ban request.
  Result read = db_->Query("WITH asked (player_id) AS (" + db_->IntegerRows(1) + ") SELECT " +
                               kStandingColumns.List() + " FROM asked a",
                           {asked.dump(), now, scoreSince}, &rows);
  if (!read.ok()) return read;
  std::unordered_map<uint64_t, Standing> found;
  for (const SqlRow& row : rows) {
    SqlFields fields(kStandingColumns, row);
    const Standing standing{fields.PlayerId("player_id"), fields.Int("banned") != 0,
                            static_cast<uint32_t>(fields.Int("score"))};
    if (!fields.result().ok()) return fields.result();
    found[standing.playerId] = standing;
  }
  for (uint64_t id : ids) {
    auto standing = found.find(id);
    standings->push_back(standing != found.end() ? standing->second : Standing{id, false, 0});
  }
  return Result::Ok();
}

// Call with the bucket's lock held.
Result SqlStore::TakeToken(const std::string& bucket, double burst, double perHour, UnixTime now, bool* taken) {
  static const SqlColumns kBucketColumns({"milli_tokens", "updated_at"});
  std::vector<SqlRow> rows;
  Result result = db_->Query("SELECT " + kBucketColumns.List() + " FROM network_buckets WHERE network = $1",
                             {bucket}, &rows);
  if (!result.ok()) return result;
  // A bucket not used before starts full.
  UnixTime updatedAt = now;
  int64_t tokens = std::llround(burst * kMilli);
  if (!rows.empty()) {
    SqlFields fields(kBucketColumns, rows[0]);
    updatedAt = fields.Int("updated_at");
    tokens = RefilledMilliTokens(fields.Int("milli_tokens"), updatedAt, now, burst, perHour);
    if (!fields.result().ok()) return fields.result();
  }
  *taken = tokens >= kMilli;
  if (!*taken) return Result::Ok();
  // The update time never goes back, so a clock behind another instance's
  // cannot refill the same interval twice.
  return db_->Query(
      "INSERT INTO network_buckets (network, milli_tokens, updated_at) VALUES ($1, $2, $3) "
      "ON CONFLICT (network) DO UPDATE SET milli_tokens = excluded.milli_tokens, updated_at = excluded.updated_at",
      {bucket, tokens - kMilli, std::max(now, updatedAt)}, nullptr);
}

// Call with the reported player's lock held. Windows are the 24 hours and
// the hour before `now`.
Result SqlStore::CheckPlayerLimits(const NewReport& report, const ReportLimits& limits, UnixTime now,
                                   ReportVerdict* verdict) {
  std::vector<SqlRow> pair;
  std::vector<SqlRow> hour;
  Result result =
      db_->Query("SELECT COUNT(*) FROM reports WHERE reported_id = $1 AND reporter_id = $2 AND reported_at > $3",
                 {SqlId(report.reportedId), SqlId(report.reporterId), now - kDay}, &pair);
  if (result.ok()) {
    result = db_->Query("SELECT COUNT(*) FROM reports WHERE reported_id = $1 AND reported_at > $2",
                        {SqlId(report.reportedId), now - kHour}, &hour);
  }
  int64_t pairCount = 0;
  int64_t hourCount = 0;
  if (result.ok()) result = SingleInt(pair, &pairCount);
  if (result.ok()) result = SingleInt(hour, &hourCount);
  if (!result.ok()) return result;
  *verdict = ReportVerdict::kRecorded;
  if (pairCount >= limits.pairPerDay)
    *verdict = ReportVerdict::kPairLimit;
  else if (hourCount >= limits.reportedPerHour)
    *verdict = ReportVerdict::kReportedLimit;
  return Result::Ok();
}

// Call with the player's lock held: the lock, not the unique index, keeps
// two reports from opening two cases.
Result SqlStore::OpenCaseOf(uint64_t playerId, UnixTime now, int64_t* caseId, bool* opened) {
  std::vector<SqlRow> rows;
  Result result =
      db_->Query("SELECT id FROM cases WHERE player_id = $1 AND closed_at IS NULL", {SqlId(playerId)}, &rows);
  *opened = result.ok() && rows.empty();
  if (*opened) {
    const SqlWrite row = SqlWrite().Set("player_id", SqlId(playerId)).Set("opened_at", now);
    result = db_->Query(row.Insert("cases") + " RETURNING id", row.values(), &rows);
  }
  return result.ok() ? SingleInt(rows, caseId) : result;
}

Result SqlStore::CaseCounts(int64_t caseId, int64_t* reports, int64_t* networks) {
  static const SqlColumns kCountColumns({"COUNT(*) AS reports", "COUNT(DISTINCT network) AS networks"});
  std::vector<SqlRow> rows;
  Result result = db_->Query("SELECT " + kCountColumns.List() + " FROM reports WHERE case_id = $1", {caseId}, &rows);
  if (!result.ok()) return result;
  if (rows.empty()) return Result::Failed("the database answered no row where one was due");
  SqlFields fields(kCountColumns, rows[0]);
  *reports = fields.Int("reports");
  *networks = fields.Int("networks");
  return fields.result();
}

// Within the transaction that recorded a report in case `caseId`, opened by
// it or not: case.opened, and case.threshold when the report brought the
// case's distinct networks to the threshold (from `networksBefore`).
Result SqlStore::AppendCaseEvents(int64_t caseId, uint64_t playerId, bool opened, int64_t networksBefore, int threshold,
                                  UnixTime now) {
  int64_t reports = 0;
  int64_t networks = 0;
  Result result = CaseCounts(caseId, &reports, &networks);
  nlohmann::json data = {
      {"caseId", caseId}, {"playerId", std::to_string(playerId)}, {"reports", reports}, {"networks", networks}};
  if (result.ok() && opened) result = AppendEvent("case.opened", data, now);
  if (result.ok() && networksBefore < threshold && networks >= threshold) {
    data["threshold"] = threshold;
    result = AppendEvent("case.threshold", data, now);
  }
  return result;
}

// Locks the network, then the player: every transaction that takes both
// takes them in this order, so none waits in a circle.
Result SqlStore::RecordReport(const NewReport& report, const ReportLimits& limits, UnixTime now,
                              ReportOutcome* outcome) {
  if (report.network.empty()) return Result::Invalid("a report needs its source network");
  *outcome = {};
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (!result.ok()) return result;
  ReportVerdict verdict = ReportVerdict::kRecorded;
  if (report.reporterId == 0 || report.reportedId == 0 || report.reporterId == report.reportedId) {
    verdict = ReportVerdict::kInvalid;
  }
  bool muted = false;
  if (verdict == ReportVerdict::kRecorded) {
    result = IsMuted(report, &muted);
    if (result.ok() && muted) verdict = ReportVerdict::kMuted;
  }
  bool taken = false;
  if (result.ok() && verdict == ReportVerdict::kRecorded) {
    result = db_->LockUntilEnd(SqlLockSpace::kNetwork, SqlLockKey(report.network));
    if (result.ok()) result = TakeToken(report.network, limits.networkBurst, limits.networkPerHour, now, &taken);
    if (result.ok() && !taken) verdict = ReportVerdict::kNetworkLimit;
  }
  if (result.ok() && verdict == ReportVerdict::kRecorded) {
    result = db_->LockUntilEnd(SqlLockSpace::kPlayer, report.reportedId);
    if (result.ok()) result = CheckPlayerLimits(report, limits, now, &verdict);
  }
  if (!result.ok()) return result;
  if (verdict != ReportVerdict::kRecorded) {
    result = CountRefusal(AuditAction::kReportRefused, std::string(WordOf(verdict)), report.network, now);
    if (result.ok()) result = transaction.Commit();
    if (result.ok()) outcome->verdict = verdict;
    return result;
  }
  // A report of a player banned now is kept, outside any case: there is
  // nothing left to decide.
  std::vector<Ban> inForce;
  result = BansInForce(report.reportedId, now, &inForce);
  int64_t caseId = 0;
  bool opened = false;
  int64_t reportsBefore = 0;
  int64_t networksBefore = 0;
  if (result.ok() && inForce.empty()) result = OpenCaseOf(report.reportedId, now, &caseId, &opened);
  if (result.ok() && caseId != 0 && !opened) result = CaseCounts(caseId, &reportsBefore, &networksBefore);
  if (result.ok()) {
    const SqlWrite row = ReportRow({0, report.reporterId, report.reportedId, report.network, now, caseId});
    result = db_->Query(row.Insert("reports"), row.values(), nullptr);
  }
  if (result.ok() && caseId != 0) {
    result = AppendCaseEvents(caseId, report.reportedId, opened, networksBefore, limits.caseThreshold, now);
  }
  if (result.ok()) result = transaction.Commit();
  if (!result.ok()) return result;
  *outcome = {ReportVerdict::kRecorded, !inForce.empty(), caseId};
  return Result::Ok();
}

Result SqlStore::QueryCases(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                            std::vector<Case>* cases) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kCaseColumns.List() +
                               " FROM cases c LEFT JOIN reports r ON r.case_id = c.id WHERE " + where +
                               " GROUP BY c.id ORDER BY " + order,
                           params, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadCase, cases);
}

Result SqlStore::OpenCases(std::vector<Case>* cases) {
  return QueryCases("c.closed_at IS NULL", "COUNT(DISTINCT r.network) DESC, COUNT(r.id) DESC, c.opened_at, c.id", {},
                    cases);
}

Result SqlStore::DismissCase(int64_t caseId, const std::string& reason, const Actor& actor, UnixTime now) {
  Result result = CheckText(TextField::kReason, reason);
  if (!result.ok()) return result;
  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) result = db_->Query("SELECT player_id FROM cases WHERE id = $1", {caseId}, &rows);
  if (!result.ok()) return result;
  if (rows.empty()) return Result::NotFound("no case " + std::to_string(caseId));
  int64_t player = 0;
  result = SingleInt(rows, &player);
  if (!result.ok()) return result;
  const uint64_t playerId = static_cast<uint64_t>(player);
  // The player's lock first, as a report into the case takes it, then the
  // case closes only if it is open still.
  rows.clear();
  result = db_->LockUntilEnd(SqlLockSpace::kPlayer, playerId);
  if (result.ok()) {
    result = db_->Query(
        "UPDATE cases SET decision = $5, closed_by = $2, closed_at = $3, close_reason = $4 "
        "WHERE id = $1 AND closed_at IS NULL RETURNING id",
        {caseId, actor.name, now, reason, std::string(WordOf(CaseDecision::kDismissed))}, &rows);
  }
  if (!result.ok()) return result;
  if (rows.empty()) return Result::NotFound("case " + std::to_string(caseId) + " is closed");
  nlohmann::json before = {{"case", caseId}, {"state", "open"}};
  nlohmann::json after = {{"case", caseId}, {"decision", WordOf(CaseDecision::kDismissed)}, {"reason", reason}};
  result = AppendAudit(AuditLine(AuditAction::kDismiss, actor, now, playerId, JsonText(before), JsonText(after)));
  int64_t reports = 0;
  int64_t networks = 0;
  if (result.ok()) result = CaseCounts(caseId, &reports, &networks);
  if (result.ok()) {
    result = AppendEvent("case.dismissed",
                         {{"caseId", caseId},
                          {"playerId", std::to_string(playerId)},
                          {"by", actor.name},
                          {"reports", reports},
                          {"networks", networks},
                          {"reason", reason}},
                         now);
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

// `where` is the store's own constant SQL, never input.
Result SqlStore::QueryReports(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                              std::vector<Report>* reports) {
  std::vector<SqlRow> rows;
  Result read =
      db_->Query("SELECT " + kReportColumns.List() + " FROM reports WHERE " + where + " ORDER BY " + order, params,
                 &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadReport, reports);
}

Result SqlStore::Player(uint64_t playerId, PlayerFile* file) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(false);
  const std::vector<SqlValue> player = {SqlId(playerId)};
  if (result.ok()) result = QueryBans("player_id = $1", "made_at DESC, id DESC", player, &file->bans);
  if (result.ok()) result = QueryCases("c.player_id = $1", "c.opened_at DESC, c.id DESC", player, &file->cases);
  if (result.ok()) result = QueryReports("reported_id = $1", "reported_at DESC, id DESC", player, &file->reports);
  if (result.ok()) result = QueryReports("reporter_id = $1", "reported_at DESC, id DESC", player, &file->reportsBy);
  if (result.ok()) result = QueryAppeals("player_id = $1", "made_at DESC, id DESC", player, &file->appeals);
  if (!result.ok()) return result;
  return transaction.Commit();
}

}  // namespace palisard
