#include "common/thread_cache.h"

#include "common/memory.h"

#include <system_error>
#include <thread>
#include <utility>

namespace palisard {

ThreadCache::~ThreadCache() {
  std::unique_lock<std::mutex> lock(mutex_);
  closing_ = true;
  taskArrived_.notify_all();
  threadEnded_.wait(lock, [this] { return live_ == 0; });
}

bool ThreadCache::Run(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_ > handed_.size()) {
      handed_.push_back(std::move(task));
      taskArrived_.notify_one();
      return true;
    }
    ++live_;
  }
  try {
    std::thread(&ThreadCache::Work, this, std::move(task)).detach();
    return true;
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(mutex_);
    --live_;
    threadEnded_.notify_all();
    return false;
  }
}

void ThreadCache::Work(std::function<void()> task) {
  for (;;) {
    task();
    task = nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    taskArrived_.wait_for(lock, idleLifetime_, [this] { return !handed_.empty() || closing_; });
    --waiting_;
    if (handed_.empty()) {
      // The last thread of a burst gives the burst's memory back.
      const bool releaseMemory = --live_ == 0 && !closing_;
      threadEnded_.notify_all();
      lock.unlock();  // from here on the cache may be gone
      if (releaseMemory) ReleaseFreeMemory();
      return;
    }
    task = std::move(handed_.front());
    handed_.pop_front();
  }
}

}  // namespace palisard
