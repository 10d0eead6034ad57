#pragma once

#include <cstddef>

namespace palisard {

// Raises the process's soft limit on open files to its hard limit, so that
// the connection caps, not the descriptor limit, bound the connections.
// Returns the limit now in force; the largest size_t where there is none.
std::size_t RaiseOpenFileLimit();

}  // namespace palisard
