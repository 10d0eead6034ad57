#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "common/clock.h"

namespace palisard {

// A timer for Asio's handlers that keeps time by a Clock: it sleeps on
// Asio's own timer for what is left (at most what the clock's LongestSleep
// allows) and looks at the clock each time it wakes, so that it expires as
// the clock passes its time, also a fake clock a test moves. Used on one
// strand; not thread-safe.
class ClockTimer {
 public:
  ClockTimer(const Clock& clock, const boost::asio::any_io_executor& executor) : clock_(clock), timer_(executor) {}

  // Calls `expired` on the executor once `after` has passed on the clock,
  // unless Cancel or another Start comes first. `owner` is the object this
  // timer is part of, held weakly: `expired` is called only while it lives.
  void Start(std::chrono::milliseconds after, std::weak_ptr<void> owner, std::function<void()> expired) {
    Start(after, Owner{std::move(owner), nullptr}, std::move(expired));
  }
  // The same, holding `owner` alive until then.
  void StartHolding(std::chrono::milliseconds after, std::shared_ptr<void> owner, std::function<void()> expired) {
    Start(after, Owner{{}, std::move(owner)}, std::move(expired));
  }
  void Cancel();

 private:
  struct Owner {
    std::weak_ptr<void> weak;
    std::shared_ptr<void> held;
  };
  void Start(std::chrono::milliseconds after, Owner owner, std::function<void()> expired);
  void Sleep(Owner owner);

  const Clock& clock_;
  boost::asio::steady_timer timer_;
  std::optional<Deadline> due_;  // none: not started, or expired or cancelled
  uint64_t starts_ = 0;          // a wake from an earlier start does nothing
  std::function<void()> expired_;
};

}  // namespace palisard
