// What the moderation queue weighs beside the reports: where hosts saw
// players together, appeals and mutes; and the pruning of what runs out.
#include <algorithm>
#include <unordered_set>

#include "common/community_id.h"
#include "store/ban_json.h"
#include "store/sql_store.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

// A host asks about its players about once a minute (every ten seconds
// after a failure); a player it has not named for longer than this left
// the match, and a later sighting begins a new presence.
constexpr UnixTime kPresenceGap = 5 * 60;
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

Result SqlStore::RecordSighting(const Sighting& sighting) {
  std::unordered_set<uint64_t> seen;
  for (uint64_t id : sighting.ids) {
    if (id == 0 || !seen.insert(id).second) continue;
    // Batches from several instances may come out of order: a sighting
    // near a presence widens it either way.
    std::vector<SqlRow> rows;
    Result result = db_->Query(
        "UPDATE presence SET "
        "first_seen = CASE WHEN first_seen > $3 THEN $3 ELSE first_seen END, "
        "last_seen = CASE WHEN last_seen < $3 THEN $3 ELSE last_seen END "
        "WHERE source = $1 AND player_id = $2 AND last_seen >= $3 - $4 AND first_seen <= $3 + $4 RETURNING id",
        {sighting.source, SqlId(id), sighting.at, kPresenceGap}, &rows);
    if (result.ok() && rows.empty()) {
      result = db_->Query(
          "INSERT INTO presence (source, network, player_id, first_seen, last_seen) VALUES ($1, $2, $3, $4, $4)",
          {sighting.source, sighting.network, SqlId(id), sighting.at}, nullptr);
    }
    if (!result.ok()) return result;
  }
  return Result::Ok();
}

Result SqlStore::RecordSightings(const std::vector<Sighting>& sightings) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  for (std::size_t i = 0; result.ok() && i < sightings.size(); ++i) result = RecordSighting(sightings[i]);
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::CaseReports(int64_t caseId, UnixTime before, UnixTime after, std::vector<WitnessedReport>* reports) {
  std::vector<Report> inCase;
  Result read = QueryReports("case_id = $1", "reported_at, id", {caseId}, &inCase);
  reports->clear();
  for (std::size_t i = 0; read.ok() && i < inCase.size(); ++i) {
    // Two presences at one source that overlap, within the window around
    // the report, counted by the source's network: one on the reporter's
    // own network (he could have sent the requests himself) counts for
    // nothing.
    const Report& report = inCase[i];
    std::vector<SqlRow> rows;
    read = db_->Query(
        "SELECT COUNT(DISTINCT a.network) FROM presence a JOIN presence b ON b.source = a.source "
        "WHERE a.player_id = $1 AND b.player_id = $2 AND a.network <> $3 AND a.network <> '' "
        "AND a.first_seen <= b.last_seen AND b.first_seen <= a.last_seen "
        "AND a.first_seen <= $5 AND b.first_seen <= $5 AND a.last_seen >= $4 AND b.last_seen >= $4",
        {SqlId(report.reporterId), SqlId(report.reportedId), report.network, report.at - before, report.at + after},
        &rows);
    int64_t hostNetworks = 0;
    if (read.ok()) read = SingleInt(rows, &hostNetworks);
    reports->push_back({report, static_cast<uint32_t>(hostNetworks)});
  }
  return read;
}

Result SqlStore::Prune(UnixTime presenceBefore, UnixTime failuresBefore, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = db_->Query("DELETE FROM presence WHERE last_seen < $1", {presenceBefore}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM sign_in_failures WHERE failed_at < $1", {failuresBefore}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM sessions WHERE expires_at <= $1", {now}, nullptr);
  if (result.ok()) {
    result = db_->Query("DELETE FROM known_networks WHERE last_sign_in < $1", {now - kKnownNetworkKept}, nullptr);
  }
  if (result.ok()) result = FoldRefusals(now);
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
