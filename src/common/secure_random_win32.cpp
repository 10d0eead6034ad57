#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <limits>

#include "common/secure_random.h"

namespace palisard {

bool SecureRandomBytes(void* buffer, std::size_t size) {
  if (size > std::numeric_limits<ULONG>::max()) return false;
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;  // STATUS_SUCCESS
}

}  // namespace palisard
