#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/mutex.h"
#include "common/result.h"
#include "store/store.h"

namespace palisard {

// The few threads that talk to the database, so that no call that blocks on
// it runs on the I/O threads. Each opens a Store of its own with the opener
// (stores are used by one thread at a time). A store that reports itself
// unreachable is dropped and opened again, at most once a second, so that a
// database that comes back is used again without a restart.
class StoreWorkers {
 public:
  using Opener = std::function<Result(std::unique_ptr<Store>*)>;
  // A call runs with the worker's store, or with none when no store could
  // be opened or its deadline passed while it waited for a worker (its
  // client has had a fault by then). kUnavailable from it drops the store.
  using Call = std::function<Result(Store*)>;

  StoreWorkers(std::size_t count, Opener opener);
  // Finishes the calls under way, drops those waiting, joins the threads.
  ~StoreWorkers();
  StoreWorkers(const StoreWorkers&) = delete;
  StoreWorkers& operator=(const StoreWorkers&) = delete;

  // Thread-safe.
  void Post(std::chrono::steady_clock::time_point due, Call call);

 private:
  struct Waiting {
    std::chrono::steady_clock::time_point due;
    Call call;
  };
  class Worker;

  void Run(std::size_t number);

  Opener opener_;
  Mutex mutex_;
  CondVar wake_;
  std::deque<Waiting> waiting_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_;
};

}  // namespace palisard
