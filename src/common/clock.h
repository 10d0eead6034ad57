#pragma once

#include <chrono>
#include <cstdint>

namespace palisard {

// The one source of time for the program's logic. Tests hand in a clock they
// move by hand, so no test waits for the real interval.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale; only differences are meaningful.
  virtual int64_t NowMs() const = 0;
  // Seconds since 1970 (UTC) as the wall shows them: for times that people
  // read and that other processes compare. May jump when the system's time
  // is set.
  virtual int64_t UnixSeconds() const = 0;
  // How long one that waits for `left` on this clock may sleep before it
  // looks at the clock again: all of it, on a clock that keeps real time.
  virtual std::chrono::milliseconds LongestSleep(std::chrono::milliseconds left) const { return left; }
};

// The real clocks (std::chrono::steady_clock, and system_clock for the
// wall), shared by the whole process. Thread-safe.
const Clock& SystemClock();

// A point in time on a clock, for bounds on a whole exchange: each wait
// takes what is left, so no trickle of bytes extends it.
class Deadline {
 public:
  Deadline(const Clock& clock, std::chrono::milliseconds budget)
      : clock_(&clock), dueMs_(clock.NowMs() + budget.count()) {}
  // What is left, never below zero.
  std::chrono::milliseconds Remaining() const {
    int64_t left = dueMs_ - clock_->NowMs();
    return std::chrono::milliseconds(left > 0 ? left : 0);
  }
  // The one rule of expiry: a deadline has passed once nothing is left of
  // it, so a wait bounded by Remaining() ends exactly when Passed() turns
  // and never spins at its end. The clock counts whole milliseconds, so in
  // real time it may pass up to one of them early.
  bool Passed() const { return Remaining().count() == 0; }

 private:
  const Clock* clock_;
  int64_t dueMs_;
};

}  // namespace palisard
