#include <errno.h>
#include <sys/random.h>

#include "common/secure_random.h"

namespace palisard {

bool SecureRandomBytes(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    // Blocks only until the kernel's pool is first seeded; reads of more
    // than 256 bytes may come back short.
    const ssize_t got = getrandom(out, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace palisard
