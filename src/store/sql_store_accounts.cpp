// Moderators' accounts, their sign-ins and sessions.
#include "store/ban_json.h"
#include "store/sql_store.h"

namespace palisard {
namespace {

// The moderators table (as m): its columns, a row as a Moderator, and a
// new account as a row. Its password hash is read only for a sign-in.
const SqlColumns kModeratorColumns({"m.id", "m.name", "m.role", "m.created_by", "m.created_at"});
const SqlColumns kSignInColumns(kModeratorColumns, {"m.password_hash"});
const SqlColumns kSessionColumns(kModeratorColumns, {"s.expires_at"});

Moderator ModeratorOf(SqlFields& fields) {
  return {fields.Int("id"), fields.Text("name"), fields.Value<ModeratorRole>("role"), fields.Text("created_by"),
          fields.Int("created_at")};
}

Result ReadModerator(const SqlRow& row, Moderator* moderator) {
  SqlFields fields(kModeratorColumns, row);
  *moderator = ModeratorOf(fields);
  return fields.result();
}

SqlWrite ModeratorRow(const std::string& name, ModeratorRole role, const std::string& passwordHash,
                      const Actor& actor, UnixTime now) {
  SqlWrite row;
  row.Set("name", name).Set("role", std::string(WordOf(role))).Set("password_hash", passwordHash);
  return row.Set("created_by", actor.name).Set("created_at", now);
}

nlohmann::json ModeratorJson(const std::string& name, ModeratorRole role) {
  return {{"name", name}, {"role", WordOf(role)}};
}

}  // namespace

Result SqlStore::AddModerator(const std::string& name, ModeratorRole role, const std::string& passwordHash,
                              const Actor& actor, UnixTime now) {
  if (name.empty() || passwordHash.empty()) return Result::Invalid("an account needs a name and a password");
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kAccount, SqlLockKey(name));
  std::vector<SqlRow> rows;
  if (result.ok()) result = db_->Query("SELECT 1 FROM moderators WHERE name = $1", {name}, &rows);
  if (!result.ok()) return result;
  if (!rows.empty()) return Result::Conflict("an account named " + name + " exists");
  const SqlWrite row = ModeratorRow(name, role, passwordHash, actor, now);
  result = db_->Query(row.Insert("moderators"), row.values(), nullptr);
  if (result.ok()) {
    result = AppendAudit(AuditLine(AuditAction::kModeratorAdd, actor, now, 0, "", JsonText(ModeratorJson(name, role))));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::RemoveModerator(const std::string& name, const Actor& actor, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kAccount, SqlLockKey(name));
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("SELECT " + kModeratorColumns.List() + " FROM moderators m WHERE m.name = $1", {name}, &rows);
  }
  if (!result.ok()) return result;
  if (rows.empty()) return Result::NotFound("no account named " + name);
  Moderator removed;
  result = ReadModerator(rows[0], &removed);
  if (result.ok()) result = db_->Query("DELETE FROM sessions WHERE moderator_id = $1", {removed.id}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM known_networks WHERE account = $1", {removed.name}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM moderators WHERE id = $1", {removed.id}, nullptr);
  if (result.ok()) {
    result = AppendAudit(AuditLine(AuditAction::kModeratorRemove, actor, now, 0,
                                   JsonText(ModeratorJson(removed.name, removed.role)), ""));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::Moderators(std::vector<Moderator>* moderators) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kModeratorColumns.List() + " FROM moderators m ORDER BY m.name", {}, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadModerator, moderators);
}

// The failures that lock `actor.name` out on `network`: from that network
// when its moderator signed in there before, else from every network he
// never signed in from, over the longer window.
Result SqlStore::AccountFailures(const std::string& account, const std::string& network, const SignInLimits& limits,
                                 UnixTime now, int64_t* failures) {
  std::vector<SqlRow> rows;
  Result result =
      db_->Query("SELECT 1 FROM known_networks WHERE account = $1 AND network = $2", {account, network}, &rows);
  if (!result.ok()) return result;
  const bool known = !rows.empty();
  rows.clear();
  if (known) {
    result = db_->Query(
        "SELECT COUNT(*) FROM sign_in_failures WHERE account = $1 AND network = $2 AND failed_at > $3",
        {account, network, now - limits.window}, &rows);
  } else {
    result = db_->Query(
        "SELECT COUNT(*) FROM sign_in_failures f WHERE f.account = $1 AND f.failed_at > $2 AND NOT EXISTS "
        "(SELECT 1 FROM known_networks k WHERE k.account = f.account AND k.network = f.network)",
        {account, now - limits.strangerWindow}, &rows);
  }
  return result.ok() ? SingleInt(rows, failures) : result;
}

// The network's lock, then the account's: every sign-in takes them in
// this order.
Result SqlStore::BeginSignIn(const std::string& network, const SignInLimits& limits, const Actor& actor, UnixTime now,
                             SignInAttempt* attempt) {
  *attempt = {};
  attempt->network = network;
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kNetwork, SqlLockKey("sign-in " + network));
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kAccount, SqlLockKey(actor.name));
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("SELECT COUNT(*) FROM sign_in_failures WHERE network = $1 AND failed_at > $2",
                        {network, now - limits.window}, &rows);
  }
  int64_t networkFailures = 0;
  int64_t accountFailures = 0;
  if (result.ok()) result = SingleInt(rows, &networkFailures);
  if (result.ok()) result = AccountFailures(actor.name, network, limits, now, &accountFailures);
  if (!result.ok()) return result;
  if (accountFailures >= limits.accountFailures || networkFailures >= limits.networkFailures) {
    attempt->locked = true;
    result = CountRefusal(AuditAction::kSignInRefused, actor.name, network, now);
    return result.ok() ? transaction.Commit() : result;
  }
  rows.clear();
  result = db_->Query("INSERT INTO sign_in_failures (account, network, failed_at) VALUES ($1, $2, $3) RETURNING id",
                      {actor.name, network, now}, &rows);
  if (result.ok()) result = SingleInt(rows, &attempt->id);
  rows.clear();
  if (result.ok()) {
    result = db_->Query("SELECT " + kSignInColumns.List() + " FROM moderators m WHERE m.name = $1", {actor.name}, &rows);
  }
  if (result.ok() && !rows.empty()) {
    SqlFields fields(kSignInColumns, rows[0]);
    attempt->account = ModeratorOf(fields);
    attempt->passwordHash = fields.Text("password_hash");
    result = fields.result();
  }
  return result.ok() ? transaction.Commit() : result;
}

Result SqlStore::FinishSignIn(const SignInAttempt& attempt, const std::optional<std::string>& tokenHash,
                              UnixTime expiresAt, const Actor& actor, UnixTime now) {
  if (!tokenHash) return CountRefusal(AuditAction::kSignInFailed, actor.name, attempt.network, now);
  if (!attempt.account || attempt.locked) {
    return Result::Invalid("only a sign-in to an account opens a session");
  }
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  // Right at last: the failures from this network end here, and the network
  // is the account's own from now on. Strangers' failures stay counted.
  if (result.ok()) {
    result = db_->Query("DELETE FROM sign_in_failures WHERE account = $1 AND network = $2",
                        {attempt.account->name, attempt.network}, nullptr);
  }
  if (result.ok()) {
    result = db_->Query(
        "INSERT INTO known_networks (account, network, last_sign_in) VALUES ($1, $2, $3) "
        "ON CONFLICT (account, network) DO UPDATE SET last_sign_in = excluded.last_sign_in",
        {attempt.account->name, attempt.network, now}, nullptr);
  }
  std::vector<SqlRow> rows;
  if (result.ok()) {
    // Nothing when the account was removed meanwhile.
    result = db_->Query(
        "INSERT INTO sessions (token_hash, moderator_id, created_at, expires_at) "
        "SELECT $1, id, $3, $4 FROM moderators WHERE id = $2 RETURNING moderator_id",
        {*tokenHash, attempt.account->id, now, expiresAt}, &rows);
  }
  if (result.ok() && rows.empty()) {
    return Result::NotFound("no account named " + attempt.account->name);
  }
  if (result.ok()) {
    result = AppendAudit(AuditLine(AuditAction::kSignIn, actor, now, 0, "", JsonText({{"sessionUntil", expiresAt}})));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::FindSession(const std::string& tokenHash, UnixTime now, std::optional<SessionInfo>* session) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kSessionColumns.List() +
                               " FROM sessions s JOIN moderators m ON m.id = s.moderator_id "
                               "WHERE s.token_hash = $1 AND s.expires_at > $2",
                           {tokenHash, now}, &rows);
  if (!read.ok()) return read;
  session->reset();
  if (rows.empty()) return Result::Ok();
  SqlFields fields(kSessionColumns, rows[0]);
  const SessionInfo found{ModeratorOf(fields), fields.Int("expires_at")};
  if (fields.result().ok()) *session = found;
  return fields.result();
}

Result SqlStore::EndSession(const std::string& tokenHash, const Actor& actor, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) result = db_->Query("DELETE FROM sessions WHERE token_hash = $1 RETURNING 1", {tokenHash}, &rows);
  if (result.ok() && !rows.empty()) result = AppendAudit(AuditLine(AuditAction::kSignOut, actor, now, 0, "", ""));
  if (result.ok()) result = transaction.Commit();
  return result;
}

}  // namespace palisard
