// API tokens: the bots' credentials and their buckets.
#include <algorithm>
#include <cmath>

#include "store/ban_json.h"
#include "store/sql_store.h"

namespace palisard {
namespace {

// The api_tokens table (as t): its columns and a row as an ApiToken.
const SqlColumns kTokenColumns({"t.id", "t.name", "t.scope", "t.created_by", "t.created_at", "t.last_used_at"});

Result ReadToken(const SqlRow& row, ApiToken* token) {
  SqlFields fields(kTokenColumns, row);
  *token = {fields.Int("id"),         fields.Text("name"),      fields.Value<TokenScope>("scope"),
            fields.Text("created_by"), fields.Int("created_at"), fields.OptionalInt("last_used_at")};
  return fields.result();
}

nlohmann::json TokenJson(const std::string& name, TokenScope scope) {
  return {{"name", name}, {"scope", WordOf(scope)}};
}

// A token's bucket, beside the networks' in one table.
std::string BucketOf(const std::string& name) { return "token " + name; }

}  // namespace

Result SqlStore::AddToken(const std::string& name, TokenScope scope, const std::string& tokenHash,
                          const Actor& actor, UnixTime now, ApiToken* made) {
  if (name.empty() || tokenHash.empty()) return Result::Invalid("a token needs a name and a secret");
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kAccount, SqlLockKey(BucketOf(name)));
  std::vector<SqlRow> rows;
  if (result.ok()) result = db_->Query("SELECT 1 FROM api_tokens WHERE name = $1", {name}, &rows);
  if (!result.ok()) return result;
  if (!rows.empty()) return Result::Conflict("a token named " + name + " exists");
  const SqlWrite row = SqlWrite()
                           .Set("name", name)
                           .Set("scope", std::string(WordOf(scope)))
                           .Set("token_hash", tokenHash)
                           .Set("created_by", actor.name)
                           .Set("created_at", now);
  rows.clear();
  result = db_->Query(row.Insert("api_tokens") + " RETURNING id", row.values(), &rows);
  ApiToken token{0, name, scope, actor.name, now, std::nullopt};
  if (result.ok()) result = SingleInt(rows, &token.id);
  if (result.ok()) {
    result = AppendAudit(AuditLine(AuditAction::kTokenAdd, actor, now, 0, "", JsonText(TokenJson(name, scope))));
  }
  if (result.ok()) result = transaction.Commit();
  if (result.ok() && made != nullptr) *made = token;
  return result;
}

Result SqlStore::RemoveToken(const std::string& name, const Actor& actor, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kAccount, SqlLockKey(BucketOf(name)));
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("DELETE FROM api_tokens WHERE name = $1 RETURNING scope", {name}, &rows);
  }
  if (!result.ok()) return result;
  if (rows.empty() || rows[0].empty() || !rows[0][0]) return Result::NotFound("no token named " + name);
  const std::optional<TokenScope> scope = ValueOfWord<TokenScope>(*rows[0][0]);
  result = db_->Query("DELETE FROM network_buckets WHERE network = $1", {BucketOf(name)}, nullptr);
  if (result.ok()) {
    result = AppendAudit(AuditLine(AuditAction::kTokenRemove, actor, now, 0,
                                   JsonText(TokenJson(name, scope.value_or(TokenScope::kRead))), ""));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::Tokens(std::vector<ApiToken>* tokens) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kTokenColumns.List() + " FROM api_tokens t ORDER BY t.name", {}, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadToken, tokens);
}

Result SqlStore::FindToken(const std::string& tokenHash, const TokenLimits& limits, UnixTime now,
                           std::optional<ApiToken>* token, UnixTime* wait) {
  token->reset();
  *wait = 0;
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("SELECT " + kTokenColumns.List() + " FROM api_tokens t WHERE t.token_hash = $1", {tokenHash},
                        &rows);
  }
  if (!result.ok() || rows.empty()) return result;
  ApiToken found;
  result = ReadToken(rows[0], &found);
  const std::string bucket = BucketOf(found.name);
  if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kAccount, SqlLockKey(bucket));
  bool taken = false;
  if (result.ok()) result = TakeToken(bucket, limits.burst, limits.perHour, now, &taken);
  if (result.ok() && taken) {
    result = db_->Query("UPDATE api_tokens SET last_used_at = $2 WHERE id = $1", {found.id, now}, nullptr);
  }
  if (result.ok()) result = transaction.Commit();
  if (!result.ok()) return result;
  // An empty bucket holds a request's worth again within this.
  if (!taken) *wait = std::max<UnixTime>(1, static_cast<UnixTime>(std::ceil(3600 / std::max(limits.perHour, 1e-3))));
  *token = found;
  return Result::Ok();
}

}  // namespace palisard
