#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>

#include "common/mutex.h"

namespace palisard {

// Runs each task at once on a thread of its own, as a detached thread per
// connection would, but a thread that has finished its task waits a while
// for the next one before it ends: a busy server then does not pay for a new
// thread per connection. No task ever waits behind another.
//
// Thread-safe. The destructor waits until every thread has ended, so tasks
// must end by themselves.
class ThreadCache {
 public:
  explicit ThreadCache(std::chrono::milliseconds idleLifetime) : idleLifetime_(idleLifetime) {}
  ~ThreadCache();
  ThreadCache(const ThreadCache&) = delete;
  ThreadCache& operator=(const ThreadCache&) = delete;

  // Hands `task` to a waiting thread or starts a new one; false (the task
  // not run) when no thread could be started.
  bool Run(std::function<void()> task);

 private:
  void Work(std::function<void()> task);
  // The next task handed to this thread; empty once it waited its idle
  // lifetime in vain or the cache closes, and the thread then counts as
  // ended. `releaseMemory`: it was the last one.
  std::function<void()> NextTask(bool* releaseMemory) LOCKS_EXCLUDED(mutex_);

  const std::chrono::milliseconds idleLifetime_;
  Mutex mutex_;
  CondVar taskArrived_;
  CondVar threadEnded_;
  std::deque<std::function<void()>> handed_ GUARDED_BY(mutex_);  // tasks given to waiting threads
  std::size_t waiting_ GUARDED_BY(mutex_) = 0;
  std::size_t live_ GUARDED_BY(mutex_) = 0;
  bool closing_ GUARDED_BY(mutex_) = false;
};

}  // namespace palisard
