#pragma once

namespace palisard {

// printf to standard output, flushed at once so that a console or a pipe
// sees each report as it happens. Safe to call from any thread.
void Print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace palisard
