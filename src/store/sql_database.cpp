#include "store/sql_database.h"

namespace palisard {

uint64_t SqlLockKey(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3u;
  return hash;
}

}  // namespace palisard
