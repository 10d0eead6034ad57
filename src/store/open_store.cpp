#include <optional>

#include "store/database_url.h"
#include "store/schema.h"
#include "store/sql_database.h"
#include "store/sql_store.h"
#include "store/store.h"

namespace palisard {

Result OpenStore(const std::string& url, std::unique_ptr<Store>* store) {
  std::unique_ptr<SqlDatabase> db;
  Result opened;
  if (const std::optional<std::string> path = SqlitePath(url)) {
    if (path->empty()) return Result::Failure(Result::Kind::kInvalid, 0, "no database named");
    opened = OpenSqliteDatabase(*path, &db);
  } else {
    opened = OpenPostgresDatabase(url, &db);
  }
  if (opened.ok()) opened = MigrateSchema(*db);
  if (!opened.ok()) return opened;
  *store = std::make_unique<SqlStore>(std::move(db));
  return Result::Ok();
}

}  // namespace palisard
