// Bans, their import, the audit and the settings.
#include "store/sql_store.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/secure_random.h"
#include "store/ban_json.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

constexpr const char* kBanColumns =
    "id, ref, player_id, reason, made_by, made_at, ends_at, lifted_by, lifted_at, lift_reason";
constexpr const char* kInForce = "lifted_at IS NULL AND (ends_at IS NULL OR ends_at > $1)";

Result Invalid(const std::string& text) { return Result::Failure(Result::Kind::kInvalid, 0, text); }

std::optional<UnixTime> OptionalTime(const std::optional<std::string>& column) {
  if (!column) return std::nullopt;
  return SqlInt(column);
}

SqlValue OptionalValue(const std::optional<UnixTime>& time) {
  if (!time) return nullptr;
  return *time;
}

// In kBanColumns' order.
Ban BanOf(const SqlRow& row) {
  Ban ban;
  ban.id = SqlInt(row[0]);
  ban.ref = SqlText(row[1]);
  ban.playerId = PlayerIdOf(row[2]);
  ban.reason = SqlText(row[3]);
  ban.madeBy = SqlText(row[4]);
  ban.madeAt = SqlInt(row[5]);
  ban.until = OptionalTime(row[6]);
  if (row[8]) ban.lift = BanLift{SqlText(row[7]), SqlInt(row[8]), SqlText(row[9])};
  return ban;
}

// 128 random bits in hex: unique across every store without asking them.
Result NewRef(std::string* ref) {
  unsigned char bytes[16];
  if (!SecureRandomBytes(bytes, sizeof bytes)) {
    return Result::Failure(Result::Kind::kFailed, 0, "the system's random generator failed");
  }
  char text[sizeof bytes * 2 + 1];
  for (std::size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  *ref = text;
  return Result::Ok();
}

}  // namespace

Result SqlStore::QueryBans(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                           std::vector<Ban>* bans) {
  std::vector<SqlRow> rows;
  Result read = db_->Query(std::string("SELECT ") + kBanColumns + " FROM bans WHERE " + where + " ORDER BY " + order,
                           params, &rows);
  if (!read.ok()) return read;
  bans->clear();
  for (const SqlRow& row : rows) bans->push_back(BanOf(row));
  return Result::Ok();
}

Result SqlStore::BansInForce(uint64_t playerId, UnixTime now, std::vector<Ban>* bans) {
  return QueryBans(std::string(kInForce) + " AND player_id = $2", "made_at DESC, id DESC", {now, SqlId(playerId)},
                   bans);
}

Result SqlStore::InsertBan(Ban* ban) {
  std::vector<SqlRow> rows;
  Result inserted = db_->Query(
      "INSERT INTO bans (ref, player_id, reason, made_by, made_at, ends_at, lifted_by, lifted_at, lift_reason) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) RETURNING id",
      {ban->ref, SqlId(ban->playerId), ban->reason, ban->madeBy, ban->madeAt, OptionalValue(ban->until),
       ban->lift ? SqlValue(ban->lift->by) : SqlValue(nullptr), ban->lift ? SqlValue(ban->lift->at) : nullptr,
       ban->lift ? SqlValue(ban->lift->reason) : SqlValue(nullptr)},
      &rows);
  if (!inserted.ok()) return inserted;
  ban->id = SqlInt(rows.at(0).at(0));
  return Result::Ok();
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
  if (!closed.ok()) return closed;
  *caseId = rows.empty() ? 0 : SqlInt(rows[0][0]);
  return Result::Ok();
}

Result SqlStore::AppendAudit(const AuditEntry& entry) {
  return db_->Query(
      "INSERT INTO audit (made_at, actor, origin, action, player_id, before_json, after_json) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7)",
      {entry.at, entry.actor, entry.from, entry.action,
       entry.playerId != 0 ? SqlValue(SqlId(entry.playerId)) : SqlValue(nullptr), entry.before, entry.after},
      nullptr);
}

Result SqlStore::AddBan(const NewBan& ban, const Actor& actor, UnixTime now, Ban* made) {
  if (ban.playerId == 0) return Invalid("player id 0 names no player");
  Result checked = CheckText(TextField::kReason, ban.reason);
  if (!checked.ok()) return checked;
  if (ban.until && *ban.until <= now) return Invalid("the ban would end before it begins");
  Ban record;
  record.playerId = ban.playerId;
  record.reason = ban.reason;
  record.madeBy = actor.name;
  record.madeAt = now;
  record.until = ban.until;
  Result result = NewRef(&record.ref);
  if (!result.ok()) return result;

  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kPlayer, ban.playerId);
  std::vector<Ban> inForce;
  if (result.ok()) result = BansInForce(ban.playerId, now, &inForce);
  if (!result.ok()) return result;
  if (!inForce.empty()) {
    return Result::Failure(Result::Kind::kConflict, 0,
                           "player " + std::to_string(ban.playerId) + " is banned already (by " + inForce[0].madeBy +
                               ": " + inForce[0].reason + ")");
  }
  int64_t closedCase = 0;
  result = InsertBan(&record);
  if (result.ok()) result = CloseOpenCase(ban.playerId, CaseDecision::kBanned, actor, ban.reason, now, &closedCase);
  if (result.ok()) {
    nlohmann::json after = BanToJson(record);
    if (closedCase != 0) after["closedCase"] = closedCase;
    result = AppendAudit(AuditLine(AuditAction::kBan, actor, now, ban.playerId, "", JsonText(after)));
  }
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
    return Result::Failure(Result::Kind::kNotFound, 0, "player " + std::to_string(playerId) + " is not banned");
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
  }
  if (!result.ok()) return result;
  result = transaction.Commit();
  if (!result.ok()) return result;
  if (lifted != nullptr) *lifted = inForce[0];
  return Result::Ok();
}

Result SqlStore::ListBans(bool includePast, UnixTime now, std::vector<Ban>* bans) {
  if (includePast) return QueryBans("1 = 1", "made_at DESC, id DESC", {}, bans);
  return QueryBans(kInForce, "made_at DESC, id DESC", {now}, bans);
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
    if (bans[i].playerId == 0) return Invalid(which + "player id 0 names no player");
    Result checked = CheckText(TextField::kReason, bans[i].reason);
    if (checked.ok() && bans[i].lift) checked = CheckText(TextField::kReason, bans[i].lift->reason);
    if (!checked.ok()) return Invalid(which + checked.text());
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
      "SELECT id, made_at, actor, origin, action, player_id, before_json, after_json FROM audit "
      "WHERE ($2 = '' OR actor = $2) AND ($3 = 0 OR player_id = $3) AND ($4 = '' OR action = $4) "
      "ORDER BY id DESC LIMIT $1",
      {static_cast<int64_t>(std::min<std::size_t>(limit, INT64_MAX)), filter.actor, SqlId(filter.playerId),
       filter.action},
      &rows);
  if (!read.ok()) return read;
  entries->clear();
  for (const SqlRow& row : rows) {
    entries->push_back({SqlInt(row[0]), SqlInt(row[1]), SqlText(row[2]), SqlText(row[3]), SqlText(row[4]),
                        PlayerIdOf(row[5]), SqlText(row[6]), SqlText(row[7])});
  }
  return Result::Ok();
}

Result SqlStore::GetSetting(const std::string& key, std::optional<std::string>* value) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT value FROM settings WHERE name = $1", {key}, &rows);
  if (!read.ok()) return read;
  *value = rows.empty() ? std::nullopt : std::optional<std::string>(SqlText(rows[0][0]));
  return Result::Ok();
}

Result SqlStore::SetSetting(const std::string& key, const std::string& value, const Actor& actor, UnixTime now) {
  if (key.empty()) return Invalid("a setting needs a name");
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
