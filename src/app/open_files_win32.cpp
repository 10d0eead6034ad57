#include <limits>

#include "app/open_files.h"

namespace palisard {

// Sockets are not counted against a descriptor limit on Windows.
std::size_t RaiseOpenFileLimit() { return std::numeric_limits<std::size_t>::max(); }

}  // namespace palisard
