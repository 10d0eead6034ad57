#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>

#include "common/clock.h"

namespace palisard {

// A clock that moves only when a test says so; its wall starts at
// `unixStart` and moves with it. Thread-safe.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(int64_t startMs = 1'000'000, int64_t unixStart = 1'714'564'800)
      : startMs_(startMs), unixStart_(unixStart), now_(startMs) {}
  int64_t NowMs() const override { return now_.load(); }
  int64_t UnixSeconds() const override { return unixStart_ + (now_.load() - startMs_) / 1000; }
  // Its time passes when a test moves it: whoever waits looks again soon.
  std::chrono::milliseconds LongestSleep(std::chrono::milliseconds left) const override {
    return std::min(left, std::chrono::milliseconds(2));
  }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  const int64_t startMs_;
  const int64_t unixStart_;
  std::atomic<int64_t> now_;
};

}  // namespace palisard
