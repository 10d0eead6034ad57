// Bans, their import, the audit and the settings.
#include "store/sql_store.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/secure_random.h"
#include "common/utc_time.h"
#include "store/ban_json.h"
#include "store/text_limits.h"

namespace palisard {

std::string InForce(int now) {
  const std::string at = "$" + std::to_string(now);
  return "lifted_at IS NULL AND (ends_at IS NULL OR ends_at > " + at + ")";
}

namespace {

// The bans table: its columns, a row as a Ban, and a Ban as a row.
const SqlColumns kBanColumns({"id", "ref", "player_id", "reason", "made_by", "made_at", "ends_at", "lifted_by",
                              "lifted_at", "lift_reason", "is_private"});

// Reads a ban from a row of a SELECT whose list holds kBanColumns'.
void ReadBanFields(SqlFields& fields, Ban* ban) {
  ban->id = fields.Int("id");
  ban->ref = fields.Text("ref");
  ban->playerId = fields.PlayerId("player_id");
  ban->reason = fields.Text("reason");
  ban->madeBy = fields.Text("made_by");
  ban->madeAt = fields.Int("made_at");
  ban->until = fields.OptionalInt("ends_at");
  if (const std::optional<UnixTime> liftedAt = fields.OptionalInt("lifted_at")) {
    ban->lift = BanLift{fields.Text("lifted_by"), *liftedAt, fields.Text("lift_reason")};
  }
  ban->isPrivate = fields.Int("is_private") != 0;
}

Result ReadBan(const SqlRow& row, Ban* ban) {
  SqlFields fields(kBanColumns, row);
  ReadBanFields(fields, ban);
  return fields.result();
}

// A change of the feed with its ban, from the feed joined with the bans.
const SqlColumns kFeedColumns(kBanColumns, {"seq", "change", "changed_at"});

Result ReadFeedChange(const SqlRow& row, FeedChange* change) {
  SqlFields fields(kFeedColumns, row);
  change->seq = fields.Int("seq");
  change->change = fields.Value<FeedChangeKind>("change");
  change->at = fields.Int("changed_at");
  ReadBanFields(fields, &change->ban);
  return fields.result();
}

SqlWrite BanRow(const Ban& ban) {
  SqlWrite row;
  row.Set("ref", ban.ref).Set("player_id", SqlId(ban.playerId)).Set("reason", ban.reason);
  row.Set("made_by", ban.madeBy).Set("made_at", ban.madeAt).Set("ends_at", OptionalValue(ban.until));
  row.Set("lifted_by", ban.lift ? SqlValue(ban.lift->by) : nullptr);
  row.Set("lifted_at", ban.lift ? SqlValue(ban.lift->at) : nullptr);
  row.Set("lift_reason", ban.lift ? SqlValue(ban.lift->reason) : nullptr);
  row.Set("is_private", int64_t{ban.isPrivate ? 1 : 0});
  return row;
}

// The audit table's, likewise.
const SqlColumns kAuditColumns(
    {"id", "made_at", "actor", "origin", "action", "player_id", "before_json", "after_json"});

Result ReadAuditEntry(const SqlRow& row, AuditEntry* entry) {
  SqlFields fields(kAuditColumns, row);
  *entry = {fields.Int("id"),
            fields.Int("made_at"),
            fields.Text("actor"),
            fields.Text("origin"),
            fields.Text("action"),
            fields.OptionalPlayerId("player_id").value_or(0),
            fields.OptionalText("before_json").value_or(""),
            fields.OptionalText("after_json").value_or("")};
  return fields.result();
}

SqlWrite AuditRow(const AuditEntry& entry) {
  SqlWrite row;
  row.Set("made_at", entry.at).Set("actor", entry.actor).Set("origin", entry.from).Set("action", entry.action);
  row.Set("player_id", entry.playerId != 0 ? SqlValue(SqlId(entry.playerId)) : nullptr);
  row.Set("before_json", entry.before).Set("after_json", entry.after);
  return row;
}

// The data of a ban.created event, with the counts of the case it closed
// (0 for none).
nlohmann::json BanCreatedData(const Ban& ban, int64_t reports, int64_t networks) {
  const nlohmann::json until = ban.until ? nlohmann::json(FormatUtcTime(*ban.until)) : nlohmann::json();
  const nlohmann::json duration = ban.until ? nlohmann::json(*ban.until - ban.madeAt) : nlohmann::json();
  return {{"ref", ban.ref},       {"playerId", std::to_string(ban.playerId)},
          {"by", ban.madeBy},     {"durationSeconds", duration},
          {"until", until},       {"reports", reports},
          {"networks", networks}, {"reason", ban.reason}};
}

}  // namespace

Result NewRef(std::string* ref) {
  unsigned char bytes[16];
  if (!SecureRandomBytes(bytes, sizeof bytes)) {
    return Result::Failed("the system's random generator failed");
  }
  char text[sizeof bytes * 2 + 1];
  for (std::size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  *ref = text;
  return Result::Ok();
}

Result SqlStore::QueryBans(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                           std::vector<Ban>* bans) {
  std::vector<SqlRow> rows;
  Result read =
      db_->Query("SELECT " + kBanColumns.List() + " FROM bans WHERE " + where + " ORDER BY " + order, params, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadBan, bans);
}

Result SqlStore::BansInForce(uint64_t playerId, UnixTime now, std::vector<Ban>* bans) {
  return QueryBans(InForce(1) + " AND player_id = $2", "made_at DESC, id DESC", {now, SqlId(playerId)}, bans);
}

Result SqlStore::InsertBan(Ban* ban) {
  std::vector<SqlRow> rows;
  const SqlWrite row = BanRow(*ban);
  Result inserted = db_->Query(row.Insert("bans") + " RETURNING id", row.values(), &rows);
  return inserted.ok() ? SingleInt(rows, &ban->id) : inserted;
}

AuditEntry AuditLine(AuditAction action, const Actor& actor, UnixTime now, uint64_t playerId, std::string before,
                     std::string after) {
  return {0, now, actor.name, actor.from, std::string(WordOf(action)), playerId, std::move(before), std::move(after)};
}

Result SqlStore::CloseOpenCase(uint64_t playerId, CaseDecision decision, const Actor& actor,
                               const std::string& reason, UnixTime now, int64_t* caseId) {
  std::vector<SqlRow> rows;
  Result closed = db_->Query(
      "UPDATE cases SET decision = $2, closed_by = $3, closed_at = $4, close_reason = $5 "
      "WHERE player_id = $1 AND closed_at IS NULL RETURNING id",
      {SqlId(playerId), std::string(WordOf(decision)), actor.name, now, reason}, &rows);
  if (!closed.ok() || rows.empty()) return closed;
  int64_t closedId = 0;
  closed = SingleInt(rows, &closedId);
  if (closed.ok()) *caseId = closedId;
  return closed;
}

Result SqlStore::AppendAudit(const AuditEntry& entry) {
  const SqlWrite row = AuditRow(entry);
  return db_->Query(row.Insert("audit"), row.values(), nullptr);
}

Result SqlStore::AddBan(const NewBan& ban, const Actor& actor, UnixTime now, Ban* made) {
  if (ban.playerId == 0) return Result::Invalid("player id 0 names no player");
  Result checked = CheckText(TextField::kReason, ban.reason);
  if (!checked.ok()) return checked;
  if (ban.until && *ban.until <= now) return Result::Invalid("the ban would end before it begins");
  Ban record;
  record.playerId = ban.playerId;
  record.reason = ban.reason;
  record.madeBy = actor.name;
  record.madeAt = now;
  record.until = ban.until;
  record.isPrivate = ban.isPrivate;
  Result result = NewRef(&record.ref);
  if (!result.ok()) return result;

  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kPlayer, ban.playerId);
  std::vector<Ban> inForce;
  if (result.ok()) result = BansInForce(ban.playerId, now, &inForce);
  if (!result.ok()) return result;
  if (!inForce.empty()) {
    return Result::Conflict("player " + std::to_string(ban.playerId) + " is banned already (by " + inForce[0].madeBy +
                            ": " + inForce[0].reason + ")");
  }
  int64_t closedCase = 0;
  result = InsertBan(&record);
  if (result.ok() && !record.isPrivate) result = AppendFeedChange(record.id, FeedChangeKind::kMade, now);
  if (result.ok()) result = CloseOpenCase(ban.playerId, CaseDecision::kBanned, actor, ban.reason, now, &closedCase);
  if (result.ok()) {
    nlohmann::json after = BanToJson(record);
    if (closedCase != 0) after["closedCase"] = closedCase;
    result = AppendAudit(AuditLine(AuditAction::kBan, actor, now, ban.playerId, "", JsonText(after)));
  }
  int64_t reports = 0;
  int64_t networks = 0;
  if (result.ok() && closedCase != 0) result = CaseCounts(closedCase, &reports, &networks);
  if (result.ok()) result = AppendEvent("ban.created", BanCreatedData(record, reports, networks), now);
  if (result.ok()) result = transaction.Commit();
  if (!result.ok()) return result;
  if (made != nullptr) *made = record;
  return Result::Ok();
}

// Lifts every ban of the player in force (an import can bring a second one),
// each with its audit entry; `lifted` is the newest.
Result SqlStore::LiftBan(uint64_t playerId, const std::string& reason, const Actor& actor, UnixTime now, Ban* lifted) {
  Result result = CheckText(TextField::kReason, reason);
  if (!result.ok()) return result;
  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kPlayer, playerId);
  std::vector<Ban> inForce;
  if (result.ok()) result = BansInForce(playerId, now, &inForce);
  if (!result.ok()) return result;
  if (inForce.empty()) {
    return Result::NotFound("player " + std::to_string(playerId) + " is not banned");
  }
  std::vector<int64_t> grantedAppeals;
  result = GrantOpenAppeals(playerId, actor, reason, now, &grantedAppeals);
  for (Ban& ban : inForce) {
    if (!result.ok()) return result;
    std::string before = JsonText(BanToJson(ban));
    ban.lift = BanLift{actor.name, now, reason};
    nlohmann::json after = BanToJson(ban);
    if (!grantedAppeals.empty()) after["grantedAppeals"] = std::exchange(grantedAppeals, {});
    result = db_->Query("UPDATE bans SET lifted_by = $2, lifted_at = $3, lift_reason = $4 WHERE id = $1",
                        {ban.id, actor.name, now, reason}, nullptr);
    if (result.ok()) result = AppendAudit(AuditLine(AuditAction::kLift, actor, now, playerId, before, JsonText(after)));
    // Only a ban the feed told of is lifted there: not an imported or a
    // private one.
    std::vector<SqlRow> told;
    if (result.ok()) result = db_->Query("SELECT 1 FROM feed WHERE ban_id = $1", {ban.id}, &told);
    if (result.ok() && !told.empty()) result = AppendFeedChange(ban.id, FeedChangeKind::kLifted, now);
    if (result.ok()) {
      result = AppendEvent("ban.lifted",
                           {{"ref", ban.ref}, {"playerId", std::to_string(playerId)}, {"by", actor.name},
                            {"reason", reason}},
                           now);
    }
  }
  if (!result.ok()) return result;
  result = transaction.Commit();
  if (!result.ok()) return result;
  if (lifted != nullptr) *lifted = inForce[0];
  return Result::Ok();
}

Result SqlStore::ListBans(bool includePast, UnixTime now, std::vector<Ban>* bans) {
  if (includePast) return QueryBans("1 = 1", "made_at DESC, id DESC", {}, bans);
  return QueryBans(InForce(1), "made_at DESC, id DESC", {now}, bans);
}

Result SqlStore::BansChanged(const BanCursor& after, UnixTime before, std::size_t limit, std::vector<Ban>* bans) {
  // The index bans_changed answers this, on the same expression.
  return QueryBans(
      "(COALESCE(lifted_at, made_at) > $1 OR (COALESCE(lifted_at, made_at) = $1 AND id > $2)) AND "
      "COALESCE(lifted_at, made_at) < $3",
      "COALESCE(lifted_at, made_at), id LIMIT $4",
      {after.changedAt, after.id, before, static_cast<int64_t>(std::min<std::size_t>(limit, INT64_MAX))}, bans);
}

Result SqlStore::AppendFeedChange(int64_t banId, FeedChangeKind change, UnixTime now) {
  std::vector<SqlRow> rows;
  Result result = db_->Query("UPDATE feed_head SET seq = seq + 1 RETURNING seq", {}, &rows);
  int64_t seq = 0;
  if (result.ok()) result = SingleInt(rows, &seq);
  if (!result.ok()) return result;
  const SqlWrite row =
      SqlWrite().Set("seq", seq).Set("ban_id", banId).Set("change", std::string(WordOf(change))).Set("changed_at", now);
  return db_->Query(row.Insert("feed"), row.values(), nullptr);
}

Result SqlStore::FeedChanges(int64_t from, int64_t to, std::vector<FeedChange>* changes) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kFeedColumns.List() +
                               " FROM feed JOIN bans ON bans.id = feed.ban_id WHERE seq >= $1 AND seq <= $2 ORDER BY seq",
                           {from, to}, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadFeedChange, changes);
}

Result SqlStore::FeedHead(int64_t* seq) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT seq FROM feed_head", {}, &rows);
  return read.ok() ? SingleInt(rows, seq) : read;
}

Result SqlStore::ForEachBan(const std::function<void(const Ban&)>& visit) {
  std::vector<Ban> bans;
  Result read = QueryBans("1 = 1", "made_at, id", {}, &bans);
  if (!read.ok()) return read;
  for (const Ban& ban : bans) visit(ban);
  return Result::Ok();
}

// A ban with a ref the store holds already is skipped. One without a ref
// (from a plain list of ids) gets a fresh one, unless the player is banned
// already: importing such a list twice bans nobody twice.
Result SqlStore::ImportOne(Ban ban, const Actor& actor, UnixTime now, std::vector<std::string>* refs) {
  if (ban.madeBy.empty()) ban.madeBy = actor.name;
  if (ban.madeAt == 0) ban.madeAt = now;
  Result result;
  if (ban.ref.empty()) {
    std::vector<Ban> inForce;
    result = BansInForce(ban.playerId, now, &inForce);
    if (!result.ok() || !inForce.empty()) return result;
    result = NewRef(&ban.ref);
  } else {
    std::vector<SqlRow> rows;
    result = db_->Query("SELECT 1 FROM bans WHERE ref = $1", {ban.ref}, &rows);
    if (!result.ok() || !rows.empty()) return result;
  }
  if (result.ok()) result = InsertBan(&ban);
  int64_t closedCase = 0;
  if (result.ok() && ban.InForce(now))
    result = CloseOpenCase(ban.playerId, CaseDecision::kBanned, actor, ban.reason, now, &closedCase);
  if (result.ok()) refs->push_back(ban.ref);
  return result;
}

Result SqlStore::ImportBans(const std::vector<Ban>& bans, bool dryRun, const Actor& actor, UnixTime now,
                            std::size_t* added) {
  std::vector<uint64_t> players;
  for (std::size_t i = 0; i < bans.size(); ++i) {
    const std::string which = "ban " + std::to_string(i + 1) + ": ";
    if (bans[i].playerId == 0) return Result::Invalid(which + "player id 0 names no player");
    Result checked = CheckText(TextField::kReason, bans[i].reason);
    if (checked.ok() && bans[i].lift) checked = CheckText(TextField::kReason, bans[i].lift->reason);
    if (!checked.ok()) return Result::Invalid(which + checked.text());
    players.push_back(bans[i].playerId);
  }
  // Locks in one order, so two imports of overlapping lists never wait for
  // each other in a circle.
  std::sort(players.begin(), players.end());
  players.erase(std::unique(players.begin(), players.end()), players.end());

  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  for (std::size_t i = 0; result.ok() && i < players.size(); ++i) {
    result = db_->LockUntilEnd(SqlLockSpace::kPlayer, players[i]);
  }
  std::vector<std::string> refs;
  for (std::size_t i = 0; result.ok() && i < bans.size(); ++i) result = ImportOne(bans[i], actor, now, &refs);
  if (result.ok() && !refs.empty()) {
    nlohmann::json after = {{"added", refs.size()}, {"refs", refs}};
    result = AppendAudit(AuditLine(AuditAction::kImport, actor, now, 0, "", JsonText(after)));
    // A dry run rolls the event back with the rest. An import adds bans;
    // it lifts none of those the store holds.
    if (result.ok()) {
      result = AppendEvent(
          "bans.imported", {{"source", "import"}, {"by", actor.name}, {"added", refs.size()}, {"lifted", 0}}, now);
    }
  }
  if (!result.ok()) return result;
  // A dry run goes through every step and then rolls them back.
  if (!dryRun) result = transaction.Commit();
  if (!result.ok()) return result;
  if (added != nullptr) *added = refs.size();
  return Result::Ok();
}

Result SqlStore::Audit(const AuditFilter& filter, std::size_t limit, std::vector<AuditEntry>* entries) {
  std::vector<SqlRow> rows;
  Result read = db_->Query(
      "SELECT " + kAuditColumns.List() +
          " FROM audit WHERE ($2 = '' OR actor = $2) AND ($3 = 0 OR player_id = $3) AND ($4 = '' OR action = $4) "
          "AND ($5 = 0 OR id < $5) ORDER BY id DESC LIMIT $1",
      {static_cast<int64_t>(std::min<std::size_t>(limit, INT64_MAX)), filter.actor, SqlId(filter.playerId),
       filter.action, filter.beforeId},
      &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadAuditEntry, entries);
}

Result SqlStore::GetSetting(const std::string& key, std::optional<std::string>* value) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT value FROM settings WHERE name = $1", {key}, &rows);
  if (!read.ok()) return read;
  value->reset();
  if (!rows.empty()) *value = rows[0].empty() ? std::nullopt : rows[0][0];
  return Result::Ok();
}

Result SqlStore::SetSetting(const std::string& key, const std::string& value, const Actor& actor, UnixTime now) {
  if (key.empty()) return Result::Invalid("a setting needs a name");
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  std::optional<std::string> old;
  if (result.ok()) result = GetSetting(key, &old);
  if (!result.ok() || old == value) return result;
  result = db_->Query(
      "INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET value = excluded.value",
      {key, value}, nullptr);
  if (result.ok()) {
    std::string before = old ? JsonText({{"name", key}, {"value", *old}}) : "";
    result = AppendAudit(
        AuditLine(AuditAction::kSetting, actor, now, 0, before, JsonText({{"name", key}, {"value", value}})));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

}  // namespace palisard
