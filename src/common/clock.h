#pragma once

#include <cstdint>

namespace palisard {

// The one source of time for the program's logic. Tests hand in a clock they
// move by hand, so no test waits for the real interval.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale; only differences are meaningful.
  virtual int64_t NowMs() const = 0;
};

// The wall-time monotonic clock (std::chrono::steady_clock), shared by the
// whole process. Thread-safe.
const Clock& SystemClock();

}  // namespace palisard
