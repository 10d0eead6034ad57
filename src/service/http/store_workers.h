#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "common/result.h"
#include "service/http/fault_log.h"
#include "store/store.h"

namespace palisard {

// The threads that talk to the database, so that no call that blocks on it
// runs on the I/O threads. Each holds a connection of its own (a Store, used
// by one thread at a time), opened with the opener. Calls run only on
// workers that hold one: a worker without (the database refused it, or it
// was lost) opens one again after a pause that starts near 100 ms and grows
// with the time it has been without, up to a few seconds, so that a database
// that comes back is used again at once and a full one is not hammered.
// While no worker holds a connection or tries for one, calls are answered at
// once without a store. The log says once when the workers hold fewer
// connections than there are workers, and once when they hold all again.
class StoreWorkers {
 public:
  using Opener = std::function<Result(std::unique_ptr<Store>*)>;
  // Work for a worker: `run` with the worker's store, telling how the store
  // fared (kUnavailable drops the worker's connection); or, when no worker
  // holds a connection or the deadline passed while it waited (its client
  // has had a fault by then), `unanswered` instead.
  struct Call {
    std::function<Result(Store& store)> run;
    std::function<void()> unanswered = [] {};
  };

  // Calls of one kind: at most `atOnce` of them run at the same time, so
  // that slow ones leave the other workers to the rest.
  class Lane {
   public:
    Lane(StoreWorkers& workers, std::size_t index) : workers_(&workers), index_(index) {}
    // Thread-safe.
    void Post(const Deadline& due, Call call) const { workers_->Post(index_, due, std::move(call)); }
    // A client of this lane was answered with a fault because its call did
    // not end within `deadline`: told in the log. Thread-safe.
    void TimedOut(std::chrono::seconds deadline) const { workers_->TimedOut(deadline); }

   private:
    StoreWorkers* workers_;
    std::size_t index_;
  };

  // `count` workers; a call posted to lane i runs on at most atOnce[i] of
  // them at once. Their pauses and deadlines are on `clock`.
  StoreWorkers(std::size_t count, std::vector<std::size_t> atOnce, Opener opener, const Clock& clock);
  // Finishes the calls under way, drops those waiting, joins the threads.
  ~StoreWorkers();
  StoreWorkers(const StoreWorkers&) = delete;
  StoreWorkers& operator=(const StoreWorkers&) = delete;

  // Thread-safe.
  // Runs `call` on a worker of `lane`; `unanswered` once `due` passed
  // before a worker took it.
  void Post(std::size_t lane, const Deadline& due, Call call);
  void TimedOut(std::chrono::seconds deadline);
  // True once no call runs, false when some still did after `limit` (the
  // database hangs).
  bool WaitUntilIdle(std::chrono::milliseconds limit);

 private:
  struct Waiting {
    std::size_t lane;
    Deadline due;
    Call call;
  };
  class Worker;

  void Run(std::size_t number);
  // Until the worker's next try is due; false when the workers stop.
  bool WaitToTry(const Worker& worker);
  // One try to open the worker's connection, and what it changes.
  void Connect(Worker& worker);
  void RunCall(Worker& worker, Waiting& call);
  // Takes the oldest waiting call whose lane has room.
  std::optional<Waiting> TakeCall() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // What the connections held now call for: the lines to print, and the
  // calls to answer without a store when no worker holds or tries for one.
  void ConnectionsChanged(const std::string& failure, std::vector<std::string>* lines,
                          std::deque<Waiting>* unanswerable) EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const std::size_t count_;
  const std::vector<std::size_t> atOnce_;
  Opener opener_;
  const Clock& clock_;
  Mutex mutex_;
  CondVar work_;  // a call waits, or a lane has room again
  CondVar idle_;  // a call ended
  CondVar stop_;  // wakes workers that wait to try again
  std::deque<Waiting> waiting_ GUARDED_BY(mutex_);
  std::vector<std::size_t> running_ GUARDED_BY(mutex_);  // calls under way, by lane
  std::size_t connected_ GUARDED_BY(mutex_) = 0;         // workers holding a connection
  std::size_t trying_ GUARDED_BY(mutex_) = 0;            // workers opening one
  std::size_t untried_ GUARDED_BY(mutex_);               // workers before their first try
  bool toldShort_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  FaultLog faults_ GUARDED_BY(mutex_);
  std::vector<std::thread> threads_;
};

}  // namespace palisard
