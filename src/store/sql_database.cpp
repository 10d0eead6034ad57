#include "store/sql_database.h"

#include <charconv>

namespace palisard {

int64_t SqlInt(const std::optional<std::string>& column) {
  if (!column) return 0;
  int64_t value = 0;
  std::from_chars(column->data(), column->data() + column->size(), value);
  return value;
}

uint64_t SqlLockKey(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3u;
  return hash;
}

std::string SqlText(const std::optional<std::string>& column) { return column.value_or(std::string()); }

}  // namespace palisard
