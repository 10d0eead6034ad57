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

// In-JSON lists of ids, one statement for any number of them; each
// database reads a JSON array into rows its own way. An id twice gives two
// rows (removing them would cost a sort on every ban request).
std::string IdsFromJson(SqlDialect dialect) {
  return dialect == SqlDialect::kSqlite
             ? "SELECT value FROM json_each($1)"
             : "SELECT CAST(value AS BIGINT) FROM json_array_elements_text(CAST($1 AS json))";
}

Case CaseOf(const SqlRow& row) {
  Case c;
  c.id = SqlInt(row[0]);
  c.playerId = PlayerIdOf(row[1]);
  c.openedAt = SqlInt(row[2]);
  if (row[5]) c.closing = CaseClosing{SqlText(row[3]), SqlText(row[4]), SqlInt(row[5]), SqlText(row[6])};
  c.reports = static_cast<uint32_t>(SqlInt(row[7]));
  c.networks = static_cast<uint32_t>(SqlInt(row[8]));
  c.reporters = static_cast<uint32_t>(SqlInt(row[9]));
  c.firstReportAt = SqlInt(row[10]);
  c.lastReportAt = SqlInt(row[11]);
  return c;
}

}  // namespace

Result SqlStore::Standings(const std::vector<uint64_t>& ids, UnixTime now, UnixTime scoreSince,
                           std::vector<Standing>* standings) {
  standings->clear();
  if (ids.empty()) return Result::Ok();
  nlohmann::json asked = nlohmann::json::array();
  for (uint64_t id : ids) asked.push_back(SqlId(id));
  std::vector<SqlRow> rows;
  Result read =
      db_->Query("WITH asked (player_id) AS (" + IdsFromJson(db_->dialect()) +
                     ") "
                     "SELECT a.player_id, "
                     "CASE WHEN EXISTS (SELECT 1 FROM bans b WHERE b.player_id = a.player_id AND b.lifted_at IS NULL "
                     "AND (b.ends_at IS NULL OR b.ends_at > $2)) THEN 1 ELSE 0 END, "
                     // Most players were never reported: their score costs no count.
                     "CASE WHEN EXISTS (SELECT 1 FROM reports r WHERE r.reported_id = a.player_id "
                     "AND r.reported_at >= $3) THEN (SELECT COUNT(DISTINCT r.network) FROM reports r "
                     "WHERE r.reported_id = a.player_id AND r.reported_at >= $3) ELSE 0 END "
                     "FROM asked a",
                 {asked.dump(), now, scoreSince}, &rows);
  if (!read.ok()) return read;
  std::unordered_map<uint64_t, Standing> found;
  for (const SqlRow& row : rows) {
    uint64_t id = PlayerIdOf(row[0]);
    found[id] = {id, SqlInt(row[1]) != 0, static_cast<uint32_t>(SqlInt(row[2]))};
  }
  for (uint64_t id : ids) {
    auto standing = found.find(id);
    standings->push_back(standing != found.end() ? standing->second : Standing{id, false, 0});
  }
  return Result::Ok();
}

// Call with the bucket's lock held.
Result SqlStore::TakeToken(const std::string& bucket, double burst, double perHour, UnixTime now, bool* taken) {
  std::vector<SqlRow> rows;
  Result result =
      db_->Query("SELECT milli_tokens, updated_at FROM network_buckets WHERE network = $1", {bucket}, &rows);
  if (!result.ok()) return result;
  // A bucket not used before starts full.
  UnixTime updatedAt = rows.empty() ? now : SqlInt(rows[0][1]);
  int64_t tokens = rows.empty() ? std::llround(burst * kMilli)
                                : RefilledMilliTokens(SqlInt(rows[0][0]), updatedAt, now, burst, perHour);
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
  if (!result.ok()) return result;
  *verdict = ReportVerdict::kRecorded;
  if (SqlInt(pair[0][0]) >= limits.pairPerDay)
    *verdict = ReportVerdict::kPairLimit;
  else if (SqlInt(hour[0][0]) >= limits.reportedPerHour)
    *verdict = ReportVerdict::kReportedLimit;
  return Result::Ok();
}

// Call with the player's lock held: the lock, not the unique index, keeps
// two reports from opening two cases.
Result SqlStore::OpenCaseOf(uint64_t playerId, UnixTime now, int64_t* caseId) {
  std::vector<SqlRow> rows;
  Result result =
      db_->Query("SELECT id FROM cases WHERE player_id = $1 AND closed_at IS NULL", {SqlId(playerId)}, &rows);
  if (result.ok() && rows.empty()) {
    result = db_->Query("INSERT INTO cases (player_id, opened_at) VALUES ($1, $2) RETURNING id", {SqlId(playerId), now},
                        &rows);
  }
  if (!result.ok()) return result;
  *caseId = SqlInt(rows.at(0).at(0));
  return Result::Ok();
}

// Locks the network, then the player: every transaction that takes both
// takes them in this order, so none waits in a circle.
Result SqlStore::RecordReport(const NewReport& report, const ReportLimits& limits, UnixTime now,
                              ReportOutcome* outcome) {
  if (report.network.empty()) {
    return Result::Failure(Result::Kind::kInvalid, 0, "a report needs its source network");
  }
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
  if (result.ok() && inForce.empty()) result = OpenCaseOf(report.reportedId, now, &caseId);
  if (result.ok()) {
    result = db_->Query(
        "INSERT INTO reports (reporter_id, reported_id, network, reported_at, case_id) VALUES ($1, $2, $3, $4, $5)",
        {SqlId(report.reporterId), SqlId(report.reportedId), report.network, now,
         caseId != 0 ? SqlValue(caseId) : SqlValue(nullptr)},
        nullptr);
  }
  if (result.ok()) result = transaction.Commit();
  if (!result.ok()) return result;
  *outcome = {ReportVerdict::kRecorded, !inForce.empty(), caseId};
  return Result::Ok();
}

Result SqlStore::QueryCases(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                            std::vector<Case>* cases) {
  std::vector<SqlRow> rows;
  Result read = db_->Query(
      "SELECT c.id, c.player_id, c.opened_at, c.decision, c.closed_by, c.closed_at, c.close_reason, "
      "COUNT(r.id), COUNT(DISTINCT r.network), COUNT(DISTINCT r.reporter_id), "
      "MIN(r.reported_at), MAX(r.reported_at) "
      "FROM cases c LEFT JOIN reports r ON r.case_id = c.id WHERE " +
          where + " GROUP BY c.id ORDER BY " + order,
      params, &rows);
  if (!read.ok()) return read;
  cases->clear();
  for (const SqlRow& row : rows) cases->push_back(CaseOf(row));
  return Result::Ok();
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
  if (rows.empty()) return Result::Failure(Result::Kind::kNotFound, 0, "no case " + std::to_string(caseId));
  uint64_t playerId = PlayerIdOf(rows[0][0]);
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
  if (rows.empty()) return Result::Failure(Result::Kind::kNotFound, 0, "case " + std::to_string(caseId) + " is closed");
  nlohmann::json before = {{"case", caseId}, {"state", "open"}};
  nlohmann::json after = {{"case", caseId}, {"decision", WordOf(CaseDecision::kDismissed)}, {"reason", reason}};
  result = AppendAudit(AuditLine(AuditAction::kDismiss, actor, now, playerId, JsonText(before), JsonText(after)));
  if (result.ok()) result = transaction.Commit();
  return result;
}

// `where` is the store's own constant SQL, never input.
Result SqlStore::QueryReports(const std::string& where, const std::vector<SqlValue>& params,
                              std::vector<Report>* reports) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT id, reporter_id, reported_id, network, reported_at, case_id FROM reports WHERE " +
                               where + " ORDER BY reported_at DESC, id DESC",
                           params, &rows);
  if (!read.ok()) return read;
  reports->clear();
  for (const SqlRow& row : rows) {
    reports->push_back(
        {SqlInt(row[0]), PlayerIdOf(row[1]), PlayerIdOf(row[2]), SqlText(row[3]), SqlInt(row[4]), SqlInt(row[5])});
  }
  return Result::Ok();
}

Result SqlStore::Player(uint64_t playerId, PlayerFile* file) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(false);
  const std::vector<SqlValue> player = {SqlId(playerId)};
  if (result.ok()) result = QueryBans("player_id = $1", "made_at DESC, id DESC", player, &file->bans);
  if (result.ok()) result = QueryCases("c.player_id = $1", "c.opened_at DESC, c.id DESC", player, &file->cases);
  if (result.ok()) result = QueryReports("reported_id = $1", player, &file->reports);
  if (result.ok()) result = QueryReports("reporter_id = $1", player, &file->reportsBy);
  if (result.ok()) result = QueryAppeals("player_id = $1", "made_at DESC, id DESC", player, &file->appeals);
  if (!result.ok()) return result;
  return transaction.Commit();
}

}  // namespace palisard
