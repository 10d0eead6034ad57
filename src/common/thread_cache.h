#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

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

  const std::chrono::milliseconds idleLifetime_;
  std::mutex mutex_;
  std::condition_variable taskArrived_;
  std::condition_variable threadEnded_;
  std::deque<std::function<void()>> handed_;  // tasks given to waiting threads
  std::size_t waiting_ = 0;
  std::size_t live_ = 0;
  bool closing_ = false;
};

}  // namespace palisard
