#include "service/http/clock_timer.h"

#include <utility>

namespace palisard {

void ClockTimer::Start(std::chrono::milliseconds after, Owner owner, std::function<void()> expired) {
  ++starts_;
  due_.emplace(clock_, after);
  expired_ = std::move(expired);
  Sleep(std::move(owner));
}

void ClockTimer::Cancel() {
  ++starts_;
  due_.reset();
  expired_ = nullptr;
  timer_.cancel();
}

void ClockTimer::Sleep(Owner owner) {
  timer_.expires_after(clock_.LongestSleep(due_->Remaining()));
  // `this` is used only while its owner lives: the wake may come after the
  // timer is gone.
  timer_.async_wait([this, owner = std::move(owner), start = starts_](boost::system::error_code error) {
    const std::shared_ptr<void> alive = owner.held ? owner.held : owner.weak.lock();
    if (!alive || error || start != starts_) return;
    if (!due_->Passed()) return Sleep(owner);
    due_.reset();
    std::function<void()> expired = std::move(expired_);
    expired_ = nullptr;
    expired();
  });
}

}  // namespace palisard
