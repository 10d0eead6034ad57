#include <sys/stat.h>

#include <optional>
#include <set>

#include "common/mutex.h"
#include "store/database_url.h"
#include "store/schema.h"
#include "store/sql_database.h"
#include "store/sql_store.h"
#include "store/store.h"

namespace palisard {
namespace {

// The databases whose schema this process has brought up to date: a
// store worker's new connection need not check again. An SQLite file by
// its path and inode, so that another file put in its place is checked.
class MigratedDatabases {
 public:
  bool Contains(const std::string& database) {
    MutexLock lock(mutex_);
    return migrated_.contains(database);
  }
  void Add(const std::string& database) {
    MutexLock lock(mutex_);
    migrated_.insert(database);
  }

 private:
  Mutex mutex_;
  std::set<std::string> migrated_ GUARDED_BY(mutex_);
};

// Never destroyed: store workers may open stores until the process ends.
MigratedDatabases& Migrated() {
  static MigratedDatabases* databases = new MigratedDatabases;
  return *databases;
}

std::string SqliteIdentity(const std::string& path) {
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) return "sqlite:" + path;
  return "sqlite:" + std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino) + ":" + path;
}

}  // namespace

Result OpenStore(const std::string& url, std::unique_ptr<Store>* store) {
  std::unique_ptr<SqlDatabase> db;
  Result opened;
  std::string identity = url;
  if (const std::optional<std::string> path = SqlitePath(url)) {
    if (path->empty()) return Result::Invalid("no database named");
    opened = OpenSqliteDatabase(*path, &db);
    if (opened.ok()) identity = SqliteIdentity(*path);
  } else {
    opened = OpenPostgresDatabase(url, &db);
  }
  if (!opened.ok()) return opened;
  if (!Migrated().Contains(identity)) {
    opened = MigrateSchema(*db);
    if (!opened.ok()) return opened;
    Migrated().Add(identity);
  }
  *store = std::make_unique<SqlStore>(std::move(db));
  return Result::Ok();
}

}  // namespace palisard
