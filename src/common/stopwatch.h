#pragma once

#include <cstdint>

#include "common/clock.h"

namespace palisard {

// A timer that is copied by value inside player and block records. It keeps
// only tick counts; the clock is passed to each call so records stay plain
// values. Not thread-safe: guard it with whatever guards its owner.
struct Stopwatch {
  enum State : int32_t { kNeverStarted = 0, kRunning = 1, kStopped = 2 };
  // The game-facing "minutes": seconds x 0.01667, not seconds / 60, so five
  // minutes are reached at about 299.94 s. Peers' timing relies on this.
  static constexpr double kMinutesPerSecond = 0.01667;

  int64_t stopTicks = 0;
  int64_t startTicks = 0;
  int32_t state = kNeverStarted;

  void Start(const Clock& clock);
  void Stop(const Clock& clock);

  // 0 when never started; the time since Start while running; the span from
  // Start to Stop once stopped.
  double ElapsedMs(const Clock& clock) const;
  double ElapsedSeconds(const Clock& clock) const;
  // ElapsedSeconds in the game-facing minutes above.
  double ElapsedMinutes(const Clock& clock) const;
};

}  // namespace palisard
