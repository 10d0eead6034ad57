#include "service/store_workers.h"

#include <utility>

#include "common/console_output.h"

namespace palisard {

// One thread's store, opened again after it failed.
class StoreWorkers::Worker {
 public:
  Worker(std::size_t number, const Opener& opener) : number_(number), opener_(opener) {}

  // The store, opened when it is not and the last try is a second old;
  // null when it cannot be opened.
  Store* Open() {
    const auto now = std::chrono::steady_clock::now();
    if (store_ || now < nextTry_) return store_.get();
    Result opened = opener_(&store_);
    if (opened.ok()) {
      if (failing_) Print("palisard-service: store worker %zu reaches the store again\n", number_);
      failing_ = false;
      return store_.get();
    }
    store_.reset();
    nextTry_ = now + std::chrono::seconds(1);
    Fail(opened);
    return nullptr;
  }

  void Ran(const Result& result) {
    if (result.kind() != Result::Kind::kUnavailable) return;
    store_.reset();
    Fail(result);
  }

 private:
  // One line when the store fails, none more until it works again.
  void Fail(const Result& result) {
    if (!failing_)
      Print("palisard-service: store worker %zu cannot use the store: %s\n", number_, result.text().c_str());
    failing_ = true;
  }

  std::size_t number_;
  const Opener& opener_;
  std::unique_ptr<Store> store_;
  std::chrono::steady_clock::time_point nextTry_;
  bool failing_ = false;
};

StoreWorkers::StoreWorkers(std::size_t count, Opener opener) : opener_(std::move(opener)) {
  for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { Run(i + 1); });
}

StoreWorkers::~StoreWorkers() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  wake_.NotifyAll();
  for (std::thread& thread : threads_) thread.join();
}

void StoreWorkers::Post(std::chrono::steady_clock::time_point due, Call call) {
  {
    MutexLock lock(mutex_);
    waiting_.push_back({due, std::move(call)});
  }
  wake_.NotifyOne();
}

void StoreWorkers::Run(std::size_t number) {
  Worker worker(number, opener_);
  (void)worker.Open();  // before the first call, which should not wait for it
  for (;;) {
    Waiting next;
    {
      MutexLock lock(mutex_);
      while (!stopping_ && waiting_.empty()) wake_.Wait(mutex_);
      if (stopping_) return;
      next = std::move(waiting_.front());
      waiting_.pop_front();
    }
    if (std::chrono::steady_clock::now() > next.due) {
      (void)next.call(nullptr);
      continue;
    }
    worker.Ran(next.call(worker.Open()));
  }
}

}  // namespace palisard
