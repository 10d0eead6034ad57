#include "common/thread_cache.h"

#include "common/clock.h"
#include "common/memory.h"

#include <system_error>
#include <thread>
#include <utility>

namespace palisard {

ThreadCache::~ThreadCache() {
  MutexLock lock(mutex_);
  closing_ = true;
  taskArrived_.NotifyAll();
  while (live_ != 0) threadEnded_.Wait(mutex_);
}

bool ThreadCache::Run(std::function<void()> task) {
  {
    MutexLock lock(mutex_);
    if (waiting_ > handed_.size()) {
      handed_.push_back(std::move(task));
      taskArrived_.NotifyOne();
      return true;
    }
    ++live_;
  }
  try {
    std::thread(&ThreadCache::Work, this, std::move(task)).detach();
    return true;
  } catch (const std::system_error&) {
    MutexLock lock(mutex_);
    --live_;
    threadEnded_.NotifyAll();
    return false;
  }
}

void ThreadCache::Work(std::function<void()> task) {
  bool releaseMemory = false;
  while (task) {
    task();
    task = nullptr;  // what it holds goes now, not after the idle wait
    task = NextTask(&releaseMemory);
  }
  // From here on the cache may be gone. The last thread of a burst gives
  // the burst's memory back.
  if (releaseMemory) ReleaseFreeMemory();
}

std::function<void()> ThreadCache::NextTask(bool* releaseMemory) {
  MutexLock lock(mutex_);
  ++waiting_;
  const Deadline idleEnd(SystemClock(), idleLifetime_);
  while (handed_.empty() && !closing_ && !idleEnd.Passed()) {
    taskArrived_.WaitFor(mutex_, idleEnd.Remaining());
  }
  --waiting_;
  if (handed_.empty()) {
    *releaseMemory = --live_ == 0 && !closing_;
    threadEnded_.NotifyAll();  // under the lock: the cache may go once it is let go
    return nullptr;
  }
  std::function<void()> task = std::move(handed_.front());
  handed_.pop_front();
  return task;
}

}  // namespace palisard
