#include "common/clock.h"

#include <chrono>

namespace palisard {
namespace {

class SteadyClock final : public Clock {
 public:
  int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  int64_t UnixSeconds() const override {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

const Clock& SystemClock() {
  // Never destroyed: detached threads read the clock while the process exits.
  static const SteadyClock* clock = new SteadyClock;
  return *clock;
}

}  // namespace palisard
