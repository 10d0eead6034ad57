// PostgreSQL below the store, through libpq's C API: one connection per
// object, statements prepared once per connection, parameters bound as text.
#include <libpq-fe.h>
#include <poll.h>

#include <string_view>
#include <unordered_map>
#include <utility>

#include "common/ascii_text.h"
#include "store/sql_database.h"

namespace palisard {
namespace {

// How long connecting may take before the store reports the database
// unreachable; a URL that sets connect_timeout itself wins.
constexpr const char* kConnectTimeoutSeconds = "10";
// The session lock migrations run under ("palisard" in ASCII, cut to 63 bits).
constexpr int64_t kSchemaLockKey = 0x70616c6973617264 & INT64_MAX;

// Parameter types as PostgreSQL's catalogue numbers them (pg_type.oid).
constexpr Oid kInt8Oid = 20;
constexpr Oid kTextOid = 25;

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct AnswerClearer {
  void operator()(PGresult* answer) const { PQclear(answer); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;
using Answer = std::unique_ptr<PGresult, AnswerClearer>;

// libpq's message without the line break it ends with.
std::string Message(const char* message) { return std::string(Trimmed(message != nullptr ? message : "")); }

Result::Kind KindOf(std::string_view state) {
  if (state == "23505") return Result::Kind::kConflict;  // unique_violation
  // Connection exceptions, the server shutting down, a serialization
  // failure or deadlock (the caller may try again).
  if (state.starts_with("08") || state.starts_with("57P")) return Result::Kind::kUnavailable;
  if (state == "40001" || state == "40P01") return Result::Kind::kUnavailable;
  return Result::Kind::kFailed;
}

Result Failure(PGconn* connection, const PGresult* answer, const std::string& what) {
  if (PQstatus(connection) != CONNECTION_OK) {
    return Result::Failure(Result::Kind::kUnavailable, 0, what + ": " + Message(PQerrorMessage(connection)));
  }
  const char* state = answer != nullptr ? PQresultErrorField(answer, PG_DIAG_SQLSTATE) : nullptr;
  std::string message = Message(answer != nullptr ? PQresultErrorMessage(answer) : PQerrorMessage(connection));
  if (state == nullptr) return Result::Failure(Result::Kind::kFailed, 0, what + ": " + message);
  return Result::Failure(KindOf(state), 0, what + ": " + message + " (SQLSTATE " + state + ")");
}

bool Succeeded(const PGresult* answer) {
  ExecStatusType status = PQresultStatus(answer);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// Advisory locks share one 64-bit key space per database: the space takes
// the high half, the key folded to 32 bits the low half. Two keys that fold
// alike only wait for each other.
int64_t AdvisoryKey(SqlLockSpace space, uint64_t key) {
  uint64_t folded = (key ^ (key >> 32)) & 0xffffffffu;
  return static_cast<int64_t>((static_cast<uint64_t>(space) << 32) | folded);
}

void IgnoreNotice(void*, const char*) {}

class PostgresDatabase final : public SqlDatabase {
 public:
  explicit PostgresDatabase(Connection connection) : connection_(std::move(connection)) {}

  SqlDialect dialect() const override { return SqlDialect::kPostgres; }

  Result Query(const std::string& sql, const std::vector<SqlValue>& params, std::vector<SqlRow>* rows) override {
    if (!inTransaction_) {
      Result connected = Reconnect();
      if (!connected.ok()) return connected;
    }
    std::string name;
    Result prepared = Prepare(sql, params, &name);
    if (!prepared.ok()) return prepared;
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* number = std::get_if<int64_t>(&params[i])) {
        texts[i] = std::to_string(*number);
        values[i] = texts[i].c_str();
      } else if (const auto* text = std::get_if<std::string>(&params[i])) {
        values[i] = text->c_str();
      }
    }
    Answer answer(PQexecPrepared(connection_.get(), name.c_str(), static_cast<int>(params.size()), values.data(),
                                 nullptr, nullptr, 0));
    if (!Succeeded(answer.get())) return Failure(connection_.get(), answer.get(), "query");
    if (rows != nullptr) AppendRows(answer.get(), rows);
    return Result::Ok();
  }

  Result Script(const std::string& sql) override {
    if (!inTransaction_) {
      Result connected = Reconnect();
      if (!connected.ok()) return connected;
    }
    Answer answer(PQexec(connection_.get(), sql.c_str()));
    if (!Succeeded(answer.get())) return Failure(connection_.get(), answer.get(), "script");
    return Result::Ok();
  }

  // Writers run at READ COMMITTED and take their turns through advisory
  // locks (LockUntilEnd); a reader sees one snapshot across its statements.
  Result Begin(bool write) override {
    Result begun = Script(write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    inTransaction_ = begun.ok();
    return begun;
  }

  Result Commit() override {
    inTransaction_ = false;
    Answer answer(PQexec(connection_.get(), "COMMIT"));
    if (!Succeeded(answer.get())) return Failure(connection_.get(), answer.get(), "commit");
    // COMMIT of a transaction that failed earlier rolls it back and still
    // answers success; only its command tag tells.
    if (std::string_view(PQcmdStatus(answer.get())) != "COMMIT") {
      return Result::Failure(Result::Kind::kFailed, 0, "commit: the transaction was rolled back");
    }
    return Result::Ok();
  }

  void Rollback() override {
    inTransaction_ = false;
    Answer answer(PQexec(connection_.get(), "ROLLBACK"));
  }

  Result LockUntilEnd(SqlLockSpace space, uint64_t key) override {
    return Query("SELECT pg_advisory_xact_lock($1)", {AdvisoryKey(space, key)}, nullptr);
  }

  // A session lock: migrations run in transactions of their own inside it,
  // and it goes with the connection if the process dies.
  Result WithSchemaLock(const std::function<Result()>& migrate) override {
    Result locked = Query("SELECT pg_advisory_lock($1)", {kSchemaLockKey}, nullptr);
    if (!locked.ok()) return locked;
    Result migrated = migrate();
    Result unlocked = Query("SELECT pg_advisory_unlock($1)", {kSchemaLockKey}, nullptr);
    return migrated.ok() ? unlocked : migrated;
  }

  // Settles what every session of the store needs, on a new connection.
  Result StartSession() {
    PQsetNoticeProcessor(connection_.get(), IgnoreNotice, nullptr);
    // An answer follows the commit, so the commit must be durable when it
    // returns: a server set to synchronous_commit=off could lose the last
    // acknowledged bans in a crash. Stronger settings (remote_apply) stay.
    return Script(
        "DO $$ BEGIN IF current_setting('synchronous_commit') = 'off' THEN "
        "SET synchronous_commit = on; END IF; END $$");
  }

 private:
  // A server restart or a dropped connection costs the calls that were on
  // it; the next one outside a transaction connects again. So does one that
  // finds the server has spoken while nothing was asked: it ended the
  // session (a restart, an administrator), and says why before it closes.
  Result Reconnect() {
    pollfd idle{PQsocket(connection_.get()), POLLIN, 0};
    const bool ended = idle.fd >= 0 && poll(&idle, 1, 0) > 0;
    if (PQstatus(connection_.get()) == CONNECTION_OK && !ended) return Result::Ok();
    statements_.clear();
    PQreset(connection_.get());
    if (PQstatus(connection_.get()) != CONNECTION_OK) return Failure(connection_.get(), nullptr, "reconnect");
    return StartSession();
  }

  Result Prepare(const std::string& sql, const std::vector<SqlValue>& params, std::string* name) {
    auto cached = statements_.find(sql);
    if (cached != statements_.end()) {
      *name = cached->second;
      return Result::Ok();
    }
    // Types come from the first call's values; NULL leaves the type to the
    // statement's context.
    std::vector<Oid> types(params.size(), 0);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (std::holds_alternative<int64_t>(params[i])) types[i] = kInt8Oid;
      if (std::holds_alternative<std::string>(params[i])) types[i] = kTextOid;
    }
    std::string candidate = "s" + std::to_string(statements_.size() + 1);
    Answer answer(
        PQprepare(connection_.get(), candidate.c_str(), sql.c_str(), static_cast<int>(params.size()), types.data()));
    if (!Succeeded(answer.get())) return Failure(connection_.get(), answer.get(), "prepare");
    statements_.emplace(sql, candidate);
    *name = candidate;
    return Result::Ok();
  }

  static void AppendRows(const PGresult* answer, std::vector<SqlRow>* rows) {
    int count = PQntuples(answer);
    int columns = PQnfields(answer);
    for (int r = 0; r < count; ++r) {
      SqlRow row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        if (PQgetisnull(answer, r, c)) {
          row.emplace_back();
        } else {
          row.emplace_back(std::string(PQgetvalue(answer, r, c), static_cast<std::size_t>(PQgetlength(answer, r, c))));
        }
      }
      rows->push_back(std::move(row));
    }
  }

  Connection connection_;
  bool inTransaction_ = false;
  std::unordered_map<std::string, std::string> statements_;  // SQL text -> prepared statement's name
};

}  // namespace

Result OpenPostgresDatabase(const std::string& url, std::unique_ptr<SqlDatabase>* db) {
  char* malformed = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &malformed);
  PQconninfoFree(options);
  if (options == nullptr) {
    // libpq's reason quotes the URL, which may hold a password.
    PQfreemem(malformed);
    return Result::Failure(Result::Kind::kInvalid, 0, "libpq cannot read the URL");
  }
  // Later keywords override earlier ones, and the URL is expanded where it
  // stands: the URL's own connect_timeout overrides ours.
  const char* keywords[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {kConnectTimeoutSeconds, url.c_str(), nullptr};
  Connection connection(PQconnectdbParams(keywords, values, 1));
  if (connection == nullptr) return Result::Failure(Result::Kind::kUnavailable, 0, "out of memory");
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    // The URL is not repeated: it may hold a password.
    return Result::Failure(Result::Kind::kUnavailable, 0,
                           "cannot connect to PostgreSQL: " + Message(PQerrorMessage(connection.get())));
  }
  auto database = std::make_unique<PostgresDatabase>(std::move(connection));
  Result started = database->StartSession();
  if (!started.ok()) return started;
  *db = std::move(database);
  return Result::Ok();
}

}  // namespace palisard
