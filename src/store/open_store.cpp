#include <string_view>

#include "store/schema.h"
#include "store/sql_database.h"
#include "store/sql_store.h"
#include "store/store.h"

namespace palisard {

Result OpenStore(const std::string& url, std::unique_ptr<Store>* store) {
  std::string_view text = url;
  std::unique_ptr<SqlDatabase> db;
  Result opened;
  if (text.starts_with("postgresql://") || text.starts_with("postgres://")) {
    opened = OpenPostgresDatabase(url, &db);
  } else {
    if (text.starts_with("sqlite:")) text.remove_prefix(7);
    if (text.empty()) return Result::Failure(Result::Kind::kInvalid, 0, "no database named");
    opened = OpenSqliteDatabase(std::string(text), &db);
  }
  if (opened.ok()) opened = MigrateSchema(*db);
  if (!opened.ok()) return opened;
  *store = std::make_unique<SqlStore>(std::move(db));
  return Result::Ok();
}

}  // namespace palisard
