#include "service/store_workers.h"

#include <string>
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
    if (!opened.ok()) {
      store_.reset();
      nextTry_ = now + std::chrono::seconds(1);
      Tell(opened);
      return nullptr;
    }
    if (!told_.empty()) Print("palisard-service: store worker %zu reaches the store again\n", number_);
    told_.clear();
    return store_.get();
  }

  // What a call with the store returned.
  void Ran(const Result& result) {
    if (result.ok()) {
      told_.clear();
      return;
    }
    if (result.kind() == Result::Kind::kUnavailable) store_.reset();
    Tell(result);
  }

 private:
  // One line for a failure, none for the same failure again until a call
  // went well.
  void Tell(const Result& failure) {
    if (failure.text() != told_) {
      Print("palisard-service: store worker %zu: %s\n", number_, failure.text().c_str());
    }
    told_ = failure.text();
  }

  std::size_t number_;
  const Opener& opener_;
  std::unique_ptr<Store> store_;
  std::chrono::steady_clock::time_point nextTry_;
  std::string told_;  // the last failure told
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
    Store* store = worker.Open();
    Result result = next.call(store);
    if (store != nullptr) worker.Ran(result);
  }
}

}  // namespace palisard
