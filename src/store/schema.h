#pragma once

#include "common/result.h"
#include "store/sql_database.h"

namespace palisard {

// The newest schema version this program knows.
int64_t NewestSchemaVersion();

// Brings the database's schema up to the newest version this program knows
// (or to `upTo`, as tests of an upgrade ask), applying the numbered
// migrations it lacks under the database's schema lock, in one
// transaction. Fails (kUnavailable) on a database that a newer program has
// migrated further: this one would not know its rules.
Result MigrateSchema(SqlDatabase& db, int64_t upTo = NewestSchemaVersion());

}  // namespace palisard
