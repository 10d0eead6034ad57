#include "common/stopwatch.h"

namespace palisard {

void Stopwatch::Start(const Clock& clock) {
  startTicks = clock.NowMs();
  state = kRunning;
}

void Stopwatch::Stop(const Clock& clock) {
  stopTicks = clock.NowMs();
  state = kStopped;
}

double Stopwatch::ElapsedMs(const Clock& clock) const {
  int64_t ticks = 0;
  if (state == kRunning) {
    ticks = clock.NowMs() - startTicks;
  } else if (state == kStopped) {
    ticks = stopTicks - startTicks;
  }
  return static_cast<double>(ticks) / 1000.0 * 1000.0;
}

double Stopwatch::ElapsedSeconds(const Clock& clock) const { return ElapsedMs(clock) * 0.001; }

double Stopwatch::ElapsedMinutes(const Clock& clock) const { return ElapsedSeconds(clock) * kMinutesPerSecond; }

}  // namespace palisard
