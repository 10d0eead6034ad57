// What the moderation queue weighs beside the reports: appeals and mutes;
// and the pruning of what runs out.
#include <algorithm>

#include "common/community_id.h"
#include "store/ban_json.h"
#include "store/sql_store.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

// The appeal buckets' names beside the networks' report buckets.
const std::string kAppealBucket = "appeal ";
const std::string kAllAppealsBucket = "appeal *";

// The appeals table: its columns, a row as an Appeal, and an Appeal as a row.
const SqlColumns kAppealColumns(
    {"id", "player_id", "text", "network", "made_at", "decision", "closed_by", "closed_at", "close_reason"});

Result ReadAppeal(const SqlRow& row, Appeal* appeal) {
  SqlFields fields(kAppealColumns, row);
  *appeal = {fields.Int("id"), fields.PlayerId("player_id"), fields.Text("text"), fields.Text("network"),
             fields.Int("made_at"), std::nullopt};
  if (const std::optional<UnixTime> closedAt = fields.OptionalInt("closed_at")) {
    appeal->closing =
        CaseClosing{fields.Text("decision"), fields.Text("closed_by"), *closedAt, fields.Text("close_reason")};
  }
  return fields.result();
}

SqlWrite AppealRow(const NewAppeal& appeal, UnixTime madeAt) {
  SqlWrite row;
  row.Set("player_id", SqlId(appeal.playerId)).Set("text", appeal.text).Set("network", appeal.network);
  return row.Set("made_at", madeAt);
}

// The mutes table's, likewise; a mute is written in force.
const SqlColumns kMuteColumns({"id", "kind", "subject", "reason", "made_by", "made_at"});

Result ReadMute(const SqlRow& row, Mute* mute) {
  SqlFields fields(kMuteColumns, row);
  *mute = {fields.Int("id"),      fields.Value<MuteKind>("kind"), fields.Text("subject"),
           fields.Text("reason"), fields.Text("made_by"),         fields.Int("made_at")};
  return fields.result();
}

SqlWrite MuteRow(const Mute& mute) {
  SqlWrite row;
  row.Set("kind", std::string(WordOf(mute.kind))).Set("subject", mute.subject).Set("reason", mute.reason);
  return row.Set("made_by", mute.madeBy).Set("made_at", mute.madeAt);
}

}  // namespace

Result SqlStore::Prune(UnixTime staysBefore, UnixTime failuresBefore, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = ForgetStays(staysBefore);
  if (result.ok()) result = db_->Query("DELETE FROM sign_in_failures WHERE failed_at < $1", {failuresBefore}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM sessions WHERE expires_at <= $1", {now}, nullptr);
  if (result.ok()) {
    result = db_->Query("DELETE FROM known_networks WHERE last_sign_in < $1", {now - kKnownNetworkKept}, nullptr);
  }
  if (result.ok()) result = FoldRefusals(now);
  if (result.ok()) result = ForgetEvents(now - kEventsKept);
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::QueryAppeals(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                              std::vector<Appeal>* appeals) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kAppealColumns.List() + " FROM appeals WHERE " + where + " ORDER BY " + order,
                           params, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadAppeal, appeals);
}

// Call within the transaction that lifts the player's ban, with his lock held.
Result SqlStore::GrantOpenAppeals(uint64_t playerId, const Actor& actor, const std::string& reason, UnixTime now,
                                  std::vector<int64_t>* appealIds) {
  std::vector<SqlRow> rows;
  Result result = db_->Query(
      "UPDATE appeals SET decision = $5, closed_by = $2, closed_at = $3, close_reason = $4 "
      "WHERE player_id = $1 AND closed_at IS NULL RETURNING id",
      {SqlId(playerId), actor.name, now, reason, std::string(WordOf(AppealDecision::kGranted))}, &rows);
  appealIds->clear();
  for (std::size_t i = 0; result.ok() && i < rows.size(); ++i) {
    int64_t id = 0;
    result = SingleInt({rows[i]}, &id);
    appealIds->push_back(id);
  }
  std::sort(appealIds->begin(), appealIds->end());
  return result;
}

// Locks the appeal buckets of the network and of everyone, then the player,
// in the order a report takes its locks.
Result SqlStore::RecordAppeal(const NewAppeal& appeal, const AppealLimits& limits, UnixTime now,
                              AppealVerdict* verdict) {
  if (appeal.playerId == 0) return Result::Invalid("player id 0 names no player");
  Result result = CheckText(TextField::kAppeal, appeal.text);
  if (!result.ok()) return result;
  if (appeal.network.empty()) return Result::Invalid("an appeal needs its source network");
  const std::string bucket = kAppealBucket + appeal.network;
  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kNetwork, SqlLockKey(bucket));
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kNetwork, SqlLockKey(kAllAppealsBucket));
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kPlayer, appeal.playerId);
  std::vector<Ban> inForce;
  if (result.ok()) result = BansInForce(appeal.playerId, now, &inForce);
  std::vector<Appeal> open;
  if (result.ok()) {
    result = QueryAppeals("player_id = $1 AND network = $2 AND closed_at IS NULL", "id",
                          {SqlId(appeal.playerId), appeal.network}, &open);
  }
  *verdict = inForce.empty() ? AppealVerdict::kNotBanned
             : !open.empty() ? AppealVerdict::kOpenAlready
                             : AppealVerdict::kRecorded;
  bool taken = true;
  if (result.ok() && *verdict == AppealVerdict::kRecorded) {
    result = TakeToken(bucket, limits.networkBurst, limits.networkPerHour, now, &taken);
    if (result.ok() && !taken) *verdict = AppealVerdict::kNetworkLimit;
  }
  if (result.ok() && *verdict == AppealVerdict::kRecorded) {
    result = TakeToken(kAllAppealsBucket, limits.allBurst, limits.allPerHour, now, &taken);
    if (result.ok() && !taken) *verdict = AppealVerdict::kServiceLimit;
  }
  if (!result.ok()) return result;
  if (*verdict != AppealVerdict::kRecorded) {
    result = CountRefusal(AuditAction::kAppealRefused, std::string(WordOf(*verdict)), appeal.network, now);
    return result.ok() ? transaction.Commit() : result;
  }
  std::vector<SqlRow> rows;
  const SqlWrite row = AppealRow(appeal, now);
  result = db_->Query(row.Insert("appeals") + " RETURNING id", row.values(), &rows);
  int64_t appealId = 0;
  if (result.ok()) result = SingleInt(rows, &appealId);
  if (result.ok()) {
    nlohmann::json after = {{"appeal", appealId}, {"text", appeal.text}};
    result = AppendAudit(
        AuditLine(AuditAction::kAppeal, {"public page", appeal.network}, now, appeal.playerId, "", JsonText(after)));
  }
  if (result.ok()) {
    result = AppendEvent("appeal.filed",
                         {{"appealId", appealId}, {"playerId", std::to_string(appeal.playerId)}, {"text", appeal.text}},
                         now);
  }
  return result.ok() ? transaction.Commit() : result;
}

Result SqlStore::OpenAppeals(std::size_t offset, std::size_t limit, std::vector<Appeal>* appeals,
                             std::size_t* total) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(false);
  if (result.ok()) {
    result = QueryAppeals("closed_at IS NULL", "made_at DESC, id DESC LIMIT $1 OFFSET $2",
                          {static_cast<int64_t>(std::min<std::size_t>(limit, INT64_MAX)),
                           static_cast<int64_t>(std::min<std::size_t>(offset, INT64_MAX))},
                          appeals);
  }
  std::vector<SqlRow> rows;
  if (result.ok()) result = db_->Query("SELECT COUNT(*) FROM appeals WHERE closed_at IS NULL", {}, &rows);
  int64_t open = 0;
  if (result.ok()) result = SingleInt(rows, &open);
  if (!result.ok()) return result;
  *total = static_cast<std::size_t>(open);
  return transaction.Commit();
}

Result SqlStore::RejectAppeal(int64_t appealId, const std::string& reason, const Actor& actor, UnixTime now) {
  Result result = CheckText(TextField::kReason, reason);
  if (!result.ok()) return result;
  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  std::vector<Appeal> appeals;
  if (result.ok()) result = QueryAppeals("id = $1 AND closed_at IS NULL", "id", {appealId}, &appeals);
  if (!result.ok()) return result;
  if (appeals.empty()) return Result::NotFound("no open appeal " + std::to_string(appealId));
  // The player's lock, as a lift takes it: the appeal is granted or
  // rejected, never both.
  std::vector<SqlRow> rows;
  result = db_->LockUntilEnd(SqlLockSpace::kPlayer, appeals[0].playerId);
  if (result.ok()) {
    result = db_->Query(
        "UPDATE appeals SET decision = $5, closed_by = $2, closed_at = $3, close_reason = $4 "
        "WHERE id = $1 AND closed_at IS NULL RETURNING id",
        {appealId, actor.name, now, reason, std::string(WordOf(AppealDecision::kRejected))}, &rows);
  }
  if (!result.ok()) return result;
  if (rows.empty()) return Result::NotFound("appeal " + std::to_string(appealId) + " is closed");
  nlohmann::json after = {{"appeal", appealId}, {"decision", WordOf(AppealDecision::kRejected)}, {"reason", reason}};
  result = AppendAudit(AuditLine(AuditAction::kAppealRejected, actor, now, appeals[0].playerId,
                                 JsonText({{"appeal", appealId}, {"state", "open"}}), JsonText(after)));
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::IsMuted(const NewReport& report, bool* muted) {
  std::vector<SqlRow> rows;
  Result read = db_->Query(
      "SELECT 1 FROM mutes WHERE lifted_at IS NULL AND "
      "((kind = $3 AND subject = $1) OR (kind = $4 AND subject = $2))",
      {std::to_string(report.reporterId), report.network, std::string(WordOf(MuteKind::kReporter)),
       std::string(WordOf(MuteKind::kNetwork))},
      &rows);
  *muted = read.ok() && !rows.empty();
  return read;
}

Result SqlStore::AddMute(MuteKind kind, const std::string& subject, const std::string& reason, const Actor& actor,
                         UnixTime now) {
  if (subject.empty()) return Result::Invalid("a mute needs a reporter id or a network");
  Result result = CheckText(TextField::kReason, reason);
  if (!result.ok()) return result;
  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("SELECT id FROM mutes WHERE kind = $1 AND subject = $2 AND lifted_at IS NULL",
                        {std::string(WordOf(kind)), subject}, &rows);
  }
  if (!result.ok()) return result;
  if (!rows.empty()) return Result::Conflict(subject + " is muted already");
  const SqlWrite row = MuteRow({0, kind, subject, reason, actor.name, now});
  result = db_->Query(row.Insert("mutes") + " RETURNING id", row.values(), &rows);
  int64_t muteId = 0;
  if (result.ok()) result = SingleInt(rows, &muteId);
  if (result.ok()) {
    nlohmann::json after = {{"mute", muteId}, {"kind", WordOf(kind)}, {"subject", subject}, {"reason", reason}};
    const uint64_t player = kind == MuteKind::kReporter ? ReadCommunityId(subject).value_or(0) : 0;
    result = AppendAudit(AuditLine(AuditAction::kMute, actor, now, player, "", JsonText(after)));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::LiftMute(int64_t muteId, const Actor& actor, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("UPDATE mutes SET lifted_by = $2, lifted_at = $3 WHERE id = $1 AND lifted_at IS NULL RETURNING " +
                            kMuteColumns.List(),
                        {muteId, actor.name, now}, &rows);
  }
  if (!result.ok()) return result;
  if (rows.empty()) return Result::NotFound("no mute " + std::to_string(muteId) + " in force");
  Mute lifted;
  result = ReadMute(rows[0], &lifted);
  if (!result.ok()) return result;
  const uint64_t player = lifted.kind == MuteKind::kReporter ? ReadCommunityId(lifted.subject).value_or(0) : 0;
  result = AppendAudit(
      AuditLine(AuditAction::kUnmute, actor, now, player,
                JsonText({{"mute", muteId}, {"kind", WordOf(lifted.kind)}, {"subject", lifted.subject}}), ""));
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::Mutes(std::vector<Mute>* mutes) {
  std::vector<SqlRow> rows;
  Result read = db_->Query(
      "SELECT " + kMuteColumns.List() + " FROM mutes WHERE lifted_at IS NULL ORDER BY made_at DESC, id DESC", {}, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadMute, mutes);
}

}  // namespace palisard
