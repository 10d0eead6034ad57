#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/result.h"

namespace palisard {

// The store's own seam: one connection to SQLite or PostgreSQL. The store's
// logic and its schema are written once above it; what the two databases do
// differently (opening, transactions, locks, a few words of SQL) lives below.

// Bytes of a binary column, as opposed to text.
struct SqlBytes {
  std::string bytes;
};
// A parameter: NULL, an integer, a text or bytes. Always bound, never
// spliced into the statement's text.
using SqlValue = std::variant<std::nullptr_t, int64_t, std::string, SqlBytes>;
// One row of an answer: every column as text (a binary column's bytes as
// they are), NULL as nothing.
using SqlRow = std::vector<std::optional<std::string>>;

// The column types whose names the two databases spell differently.
enum class SqlType {
  kGeneratedKey,  // an integer primary key the database numbers
  kBytes,         // binary, of any length
};

// The things writers on several connections take turns on.
enum class SqlLockSpace : uint32_t { kPlayer = 1, kNetwork = 2, kAccount = 3, kHost = 4 };

// A text's key in a lock space: the same in every instance and every build
// (FNV-1a).
uint64_t SqlLockKey(const std::string& text);

// One connection, used by one thread at a time.
class SqlDatabase {
 public:
  virtual ~SqlDatabase() = default;

  // The dialect's words, for statements written once above the seam.
  //
  // The name of a column type.
  virtual std::string TypeName(SqlType type) const = 0;
  // The statements that make `table` refuse every change of its rows,
  // whoever holds the connection.
  virtual std::string AppendOnly(const std::string& table) const = 0;
  // A query whose rows, in one column named value, are the integers of the
  // JSON array bound as parameter $`parameter`: any number of values in
  // one statement. An integer twice gives two rows.
  virtual std::string IntegerRows(int parameter) const = 0;
  // What ends a SELECT that claims rows of `table` (as the SELECT names
  // it) in a write transaction: rows another transaction holds are skipped,
  // not waited for, so instances claiming at once each get others.
  virtual std::string SkipLocked(const std::string& table) const = 0;

  // Runs one statement whose parameters are written $1, $2, ... and appends
  // the rows it answers to `rows` (when not null). Outside a transaction the
  // statement is one of its own.
  virtual Result Query(const std::string& sql, const std::vector<SqlValue>& params, std::vector<SqlRow>* rows) = 0;
  // Runs statements without parameters, such as a schema change.
  virtual Result Script(const std::string& sql) = 0;

  // A transaction that writes takes the database's write lock at once on
  // SQLite, so it never fails halfway for want of it; one that only reads
  // sees one snapshot throughout.
  virtual Result Begin(bool write) = 0;
  // Rolls back when the commit fails, so the connection is usable after.
  virtual Result Commit() = 0;
  virtual void Rollback() = 0;

  // Holds a lock on `key` in `space` until the transaction ends, so that
  // read-then-write steps on one player or network do not interleave across
  // connections and processes. Call within a write transaction.
  virtual Result LockUntilEnd(SqlLockSpace space, uint64_t key) = 0;
  // Runs `migrate` while no other connection runs it on this database.
  virtual Result WithSchemaLock(const std::function<Result()>& migrate) = 0;
};

// Opens (creating it if needed) the SQLite file at `path`.
Result OpenSqliteDatabase(const std::string& path, std::unique_ptr<SqlDatabase>* db);
// Connects to the PostgreSQL database a libpq connection URL names.
Result OpenPostgresDatabase(const std::string& url, std::unique_ptr<SqlDatabase>* db);

// Ends the transaction it began when it goes away without a commit, whatever
// path the caller leaves by.
class SqlTransaction {
 public:
  explicit SqlTransaction(SqlDatabase& db) : db_(db) {}
  ~SqlTransaction() {
    if (open_) db_.Rollback();
  }
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;

  Result Begin(bool write) {
    Result begun = db_.Begin(write);
    open_ = begun.ok();
    return begun;
  }
  Result Commit() {
    open_ = false;
    return db_.Commit();
  }

 private:
  SqlDatabase& db_;
  bool open_ = false;
};

}  // namespace palisard
