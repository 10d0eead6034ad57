#pragma once

#include <cstddef>

namespace palisard {

// Fills `buffer` with `size` bytes from the system's cryptographic generator
// (getrandom on Linux, BCryptGenRandom on Windows). False when the system
// gave fewer; the buffer must not be used then. Thread-safe.
[[nodiscard]] bool SecureRandomBytes(void* buffer, std::size_t size);

}  // namespace palisard
