#include "common/console_output.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace palisard {

void Print(const char* format, ...) {
  // One lock so that lines printed by different threads never interleave.
  // Never destroyed: other threads may still print while the process exits.
  static std::mutex* mutex = new std::mutex;
  std::lock_guard<std::mutex> lock(*mutex);
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

}  // namespace palisard
