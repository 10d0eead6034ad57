#pragma once

#include <atomic>

#include "common/clock.h"

namespace palisard {

// A clock that moves only when a test says so. Thread-safe.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(int64_t startMs = 1'000'000) : now_(startMs) {}
  int64_t NowMs() const override { return now_.load(); }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  std::atomic<int64_t> now_;
};

}  // namespace palisard
