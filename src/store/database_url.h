#pragma once

#include <optional>
#include <string>

namespace palisard {

// The service's settings name a database by a URL: "postgresql://..." or
// "postgres://..." (libpq's connection URL) for PostgreSQL, anything else an
// SQLite file, as a path or "sqlite:PATH".

// The SQLite file `url` names; nothing when it names a PostgreSQL database.
std::optional<std::string> SqlitePath(const std::string& url);

// `url` fit for messages and logs: the password of a PostgreSQL URL, given
// as "user:PASSWORD@" or as a "password=" parameter, is hidden.
std::string ShownDatabase(const std::string& url);

}  // namespace palisard
