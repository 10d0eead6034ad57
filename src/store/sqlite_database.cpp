// SQLite below the store: one file in WAL mode, one connection per object.
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "store/sql_database.h"

namespace palisard {
namespace {

// How long a writer waits for another connection's write transaction (in
// this process or another) before it reports the database busy.
constexpr int kBusyTimeoutMs = 5000;
// The write-ahead log's pages that start a checkpoint.
constexpr int kLogPages = 64;
// How much of the database file readers map into memory.
constexpr int64_t kMappedBytes = int64_t{1} << 30;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Result Failure(sqlite3* db, int code, const std::string& what) {
  Result::Kind kind = Result::Kind::kFailed;
  int primary = code & 0xff;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) kind = Result::Kind::kUnavailable;
  if (primary == SQLITE_CANTOPEN || primary == SQLITE_NOTADB) kind = Result::Kind::kUnavailable;
  if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY) kind = Result::Kind::kConflict;
  std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return Result::Failure(kind, code, what + ": " + message);
}

// The store writes parameters as PostgreSQL numbers them ($1); SQLite's
// numbered form is ?1. The store's statements hold no '$' of their own.
std::string SqliteText(const std::string& sql) {
  std::string text = sql;
  for (char& c : text) {
    if (c == '$') c = '?';
  }
  return text;
}

class SqliteDatabase final : public SqlDatabase {
 public:
  explicit SqliteDatabase(DatabaseHandle db) : db_(std::move(db)) {}

  std::string TypeName(SqlType type) const override {
    switch (type) {
      case SqlType::kGeneratedKey:
        // The row id, numbered by the database.
        return "INTEGER PRIMARY KEY";
      case SqlType::kBytes:
        return "BLOB";
    }
    return "";
  }

  std::string AppendOnly(const std::string& table) const override {
    std::string statements;
    for (const auto& [name, change] : {std::pair("update", "UPDATE"), std::pair("delete", "DELETE")}) {
      statements += "CREATE TRIGGER " + table + "_no_" + name + " BEFORE " + change + " ON " + table +
                    "\nBEGIN SELECT RAISE(ABORT, 'the " + table + " is append-only'); END;\n";
    }
    return statements;
  }

  std::string IntegerRows(int parameter) const override {
    return "SELECT value FROM json_each($" + std::to_string(parameter) + ")";
  }

  // A write transaction holds the whole database: no other claims meanwhile.
  std::string SkipLocked(const std::string&) const override { return ""; }

  Result Query(const std::string& sql, const std::vector<SqlValue>& params, std::vector<SqlRow>* rows) override {
    sqlite3_stmt* statement = nullptr;
    Result prepared = Prepare(sql, &statement);
    if (!prepared.ok()) return prepared;
    Result bound = Bind(statement, params);
    if (!bound.ok()) return bound;
    int code;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
      if (rows != nullptr) rows->push_back(RowOf(statement));
    }
    Result done = code == SQLITE_DONE ? Result::Ok() : Failed("query");
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return done;
  }

  Result Script(const std::string& sql) override {
    int code = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) return Failed("script");
    return Result::Ok();
  }

  // IMMEDIATE takes the write lock at BEGIN, waiting for it under the busy
  // timeout; a deferred transaction that later writes could instead fail at
  // once when another connection wrote since its snapshot.
  Result Begin(bool write) override {
    if (write && full_) Checkpoint();
    return Script(write ? "BEGIN IMMEDIATE" : "BEGIN");
  }

  Result Commit() override {
    Result committed = Script("COMMIT");
    if (!committed.ok()) Rollback();
    return committed;
  }

  void Rollback() override {
    if (!sqlite3_get_autocommit(db_.get())) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    if (full_) Checkpoint();
  }

  // A write transaction holds the whole database's write lock already: every
  // writer, in any process, takes its turn.
  Result LockUntilEnd(SqlLockSpace, uint64_t) override { return Result::Ok(); }
  // Migrations run in one write transaction, which the write lock guards.
  Result WithSchemaLock(const std::function<Result()>& migrate) override { return migrate(); }

 private:
  // The last statement's failure. After a write failed for want of space,
  // the log is checkpointed and emptied (it holds up to kLogPages pages
  // that the database needs only some room for) before each write, until
  // that works: once space comes back, so do the writes.
  Result Failed(const char* what) {
    const int code = sqlite3_extended_errcode(db_.get());
    if ((code & 0xff) == SQLITE_FULL) full_ = true;
    return Failure(db_.get(), code, what);
  }

  // Copies the log into the database and empties it.
  void Checkpoint() {
    if (!sqlite3_get_autocommit(db_.get())) return;
    full_ = sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) != SQLITE_OK;
  }

  Result Prepare(const std::string& sql, sqlite3_stmt** statement) {
    auto cached = statements_.find(sql);
    if (cached != statements_.end()) {
      *statement = cached->second.get();
      return Result::Ok();
    }
    std::string text = SqliteText(sql);
    int code = sqlite3_prepare_v3(db_.get(), text.c_str(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                                  statement, nullptr);
    if (code != SQLITE_OK) return Failure(db_.get(), code, "prepare");
    statements_.emplace(sql, StatementHandle(*statement));
    return Result::Ok();
  }

  Result Bind(sqlite3_stmt* statement, const std::vector<SqlValue>& params) {
    for (std::size_t i = 0; i < params.size(); ++i) {
      int index = static_cast<int>(i + 1);
      int code = SQLITE_OK;
      if (const auto* number = std::get_if<int64_t>(&params[i])) {
        code = sqlite3_bind_int64(statement, index, *number);
      } else if (const auto* text = std::get_if<std::string>(&params[i])) {
        code = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
      } else if (const auto* bytes = std::get_if<SqlBytes>(&params[i])) {
        code = sqlite3_bind_blob(statement, index, bytes->bytes.data(), static_cast<int>(bytes->bytes.size()),
                                 SQLITE_TRANSIENT);
      } else {
        code = sqlite3_bind_null(statement, index);
      }
      if (code != SQLITE_OK) {
        sqlite3_clear_bindings(statement);
        return Failure(db_.get(), code, "bind");
      }
    }
    return Result::Ok();
  }

  static SqlRow RowOf(sqlite3_stmt* statement) {
    SqlRow row;
    int columns = sqlite3_column_count(statement);
    row.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) {
      const int type = sqlite3_column_type(statement, i);
      const void* value = type == SQLITE_BLOB ? sqlite3_column_blob(statement, i) : sqlite3_column_text(statement, i);
      if (type == SQLITE_NULL) {
        row.emplace_back();
      } else {
        // An empty blob's pointer is null.
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, i));
        row.emplace_back(value != nullptr ? std::string(static_cast<const char*>(value), size) : std::string());
      }
    }
    return row;
  }

  // Declared before the statements, so they are finalized first.
  DatabaseHandle db_;
  std::unordered_map<std::string, StatementHandle> statements_;
  bool full_ = false;  // a write failed for want of space, and no checkpoint worked since
};

}  // namespace

Result OpenSqliteDatabase(const std::string& path, std::unique_ptr<SqlDatabase>* db) {
  sqlite3* raw = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  DatabaseHandle handle(raw);
  if (code != SQLITE_OK) return Failure(raw, code, "cannot open " + path);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  auto database = std::make_unique<SqliteDatabase>(std::move(handle));
  // WAL: readers (every GetBanList) never wait for a writer, and a commit is
  // one append to the log.
  // Another connection may be making the file a WAL database at this
  // moment (instances starting together); SQLite then answers busy at
  // once, without its busy timeout, so the switch is tried again for as
  // long as that timeout.
  std::vector<SqlRow> mode;
  Result wal = database->Query("PRAGMA journal_mode=WAL", {}, &mode);
  for (int tries = 0; wal.kind() == Result::Kind::kUnavailable && tries < kBusyTimeoutMs / 10; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mode.clear();
    wal = database->Query("PRAGMA journal_mode=WAL", {}, &mode);
  }
  if (!wal.ok()) return wal;
  if (mode.empty() || mode[0].empty() || mode[0][0] != "wal") {
    return Result::Unavailable(path + " cannot be put in WAL mode");
  }
  // A commit in WAL mode is written to the log before COMMIT returns, so a
  // killed process (kill -9) loses nothing that was answered; NORMAL would
  // defer the log's fsync to the next checkpoint, and a power cut or an OS
  // crash could then take back the last bans and reports after they were
  // acknowledged. FULL syncs the log at every commit: writes (reports,
  // bans) are rare next to the reads that GetBanList makes, so the sync
  // costs little, and an acknowledged ban survives the machine going down.
  // The write-ahead log grows until a checkpoint copies it into the
  // database; at SQLite's 1000 pages (4 MiB) it would outgrow a small disk,
  // and on a crowded one take the last free bytes before the database
  // could. Writes here are few, so checkpoints every kLogPages cost little.
  // Every GetBanList looks each id up in the bans' index: read through a
  // map of the file, a lookup costs no system call, and all connections
  // share the pages the system caches rather than each copying what it
  // can into a cache of its own (2 MiB, a tenth of a million bans' index).
  // The price: a disk that fails under a mapped page stops the process
  // (SIGBUS) rather than failing the call.
  Result settings = database->Script(
      "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; PRAGMA wal_autocheckpoint=" + std::to_string(kLogPages) +
      "; PRAGMA journal_size_limit=" + std::to_string(kLogPages * 4096) +
      "; PRAGMA mmap_size=" + std::to_string(kMappedBytes) + ";");
  if (!settings.ok()) return settings;
  *db = std::move(database);
  return Result::Ok();
}

}  // namespace palisard
