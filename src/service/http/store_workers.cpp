#include "service/http/store_workers.h"

#include <algorithm>
#include <optional>
#include <random>
#include <utility>

#include "common/console_output.h"

namespace palisard {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kFirstRetry{100};
constexpr milliseconds kLongestRetry{3000};

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Print("palisard-service: %s\n", line.c_str());
}

}  // namespace

// One thread's connection, and when to try for it again.
class StoreWorkers::Worker {
 public:
  explicit Worker(std::size_t number) : random_(std::random_device{}() + static_cast<unsigned>(number)) {}

  // Without a connection since `now` (on the clock, in ms) or before: the
  // next try comes after a quarter of the time without (kFirstRetry at
  // least, kLongestRetry at most), less up to half of it at random, so that
  // instances that lost the database together do not all come back at the
  // same moment.
  void Without(int64_t now) {
    store.reset();
    if (!without_) without_ = now;
    const milliseconds pause = std::clamp(milliseconds((now - *without_) / 4), kFirstRetry, kLongestRetry);
    std::uniform_real_distribution<double> share(0.5, 1.0);
    nextTry = now + static_cast<int64_t>(static_cast<double>(pause.count()) * share(random_));
  }
  void Connected(std::unique_ptr<Store> opened) {
    store = std::move(opened);
    without_.reset();
  }

  std::unique_ptr<Store> store;
  bool tried = false;
  int64_t nextTry = 0;  // on the clock, in ms

 private:
  std::optional<int64_t> without_;
  std::minstd_rand random_;
};

StoreWorkers::StoreWorkers(std::size_t count, std::vector<std::size_t> atOnce, Opener opener, const Clock& clock)
    : count_(count),
      atOnce_(std::move(atOnce)),
      opener_(std::move(opener)),
      clock_(clock),
      running_(atOnce_.size(), 0),
      untried_(count) {
  for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { Run(i + 1); });
}

StoreWorkers::~StoreWorkers() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  work_.NotifyAll();
  stop_.NotifyAll();
  for (std::thread& thread : threads_) thread.join();
}

void StoreWorkers::Post(std::size_t lane, const Deadline& due, Call call) {
  bool queued = false;
  {
    MutexLock lock(mutex_);
    queued = connected_ > 0 || trying_ > 0 || untried_ > 0;
    if (queued) waiting_.push_back({lane, due, std::move(call)});
  }
  if (!queued) return call.unanswered();  // no worker can take it: the answer is a fault, now
  work_.NotifyOne();
}

void StoreWorkers::TimedOut(std::chrono::seconds deadline) {
  std::optional<std::string> line;
  {
    MutexLock lock(mutex_);
    line = faults_.Failed(
        "no answer within " + std::to_string(deadline.count()) + " s (the database is slow or does not answer)",
        FaultLog::Time(clock_.NowMs()));
  }
  if (line) PrintLines({*line});
}

bool StoreWorkers::WaitUntilIdle(milliseconds limit) {
  const Deadline until(clock_, limit);
  MutexLock lock(mutex_);
  for (;;) {
    const bool busy = trying_ > 0 || std::any_of(running_.begin(), running_.end(), [](std::size_t n) { return n > 0; });
    if (!busy) return true;
    if (until.Passed()) return false;
    idle_.WaitFor(mutex_, clock_.LongestSleep(until.Remaining()));
  }
}

std::optional<StoreWorkers::Waiting> StoreWorkers::TakeCall() {
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if (running_[it->lane] >= atOnce_[it->lane]) continue;
    ++running_[it->lane];
    std::optional<Waiting> call(std::move(*it));
    waiting_.erase(it);
    return call;
  }
  return std::nullopt;
}

void StoreWorkers::ConnectionsChanged(const std::string& failure, std::vector<std::string>* lines,
                                      std::deque<Waiting>* unanswerable) {
  if (untried_ > 0) return;  // the first tries are still under way
  if (connected_ == 0 && trying_ == 0) unanswerable->swap(waiting_);
  if (!failure.empty() && !toldShort_ && connected_ < count_) {
    lines->push_back("serving with " + std::to_string(connected_) + " of " + std::to_string(count_) +
                     " database connections: " + failure);
    toldShort_ = true;
  } else if (toldShort_ && connected_ == count_) {
    lines->push_back("serving with all " + std::to_string(count_) + " database connections again");
    toldShort_ = false;
  }
}

void StoreWorkers::Connect(Worker& worker) {
  {
    MutexLock lock(mutex_);
    ++trying_;
  }
  std::unique_ptr<Store> store;
  const Result opened = opener_(&store);
  std::vector<std::string> lines;
  std::deque<Waiting> unanswerable;
  if (opened.ok()) {
    worker.Connected(std::move(store));
  } else {
    worker.Without(clock_.NowMs());
  }
  {
    MutexLock lock(mutex_);
    --trying_;
    if (!worker.tried) --untried_;
    worker.tried = true;
    connected_ += opened.ok();
    ConnectionsChanged(opened.ok() ? std::string() : opened.text(), &lines, &unanswerable);
  }
  idle_.NotifyAll();
  PrintLines(lines);
  for (Waiting& waiting : unanswerable) waiting.call.unanswered();
}

void StoreWorkers::Run(std::size_t number) {
  Worker worker(number);
  for (;;) {
    if (!worker.store) {
      if (!WaitToTry(worker)) return;
      Connect(worker);
      continue;
    }
    std::optional<Waiting> next;
    {
      MutexLock lock(mutex_);
      while (!stopping_ && !(next = TakeCall())) work_.Wait(mutex_);
      if (stopping_) return;
    }
    RunCall(worker, *next);
  }
}

bool StoreWorkers::WaitToTry(const Worker& worker) {
  MutexLock lock(mutex_);
  for (milliseconds left(worker.nextTry - clock_.NowMs()); !stopping_ && worker.tried && left.count() > 0;
       left = milliseconds(worker.nextTry - clock_.NowMs())) {
    stop_.WaitFor(mutex_, clock_.LongestSleep(left) + milliseconds(1));
  }
  return !stopping_;
}

void StoreWorkers::RunCall(Worker& worker, Waiting& next) {
  // Its client has had a fault already when the call comes late.
  const bool late = next.due.Passed();
  Result result;
  if (late) {
    next.call.unanswered();
  } else {
    result = next.call.run(*worker.store);
  }
  const bool lost = !late && result.kind() == Result::Kind::kUnavailable;
  if (lost) worker.Without(clock_.NowMs());
  std::vector<std::string> lines;
  std::deque<Waiting> unanswerable;
  bool laneWasFull;
  {
    MutexLock lock(mutex_);
    laneWasFull = running_[next.lane]-- == atOnce_[next.lane];
    const FaultLog::Time now(clock_.NowMs());
    if (!late && result.ok()) {
      lines = faults_.Succeeded(now);
    } else if (!late) {
      if (std::optional<std::string> line = faults_.Failed(result.text(), now)) lines.push_back(*line);
    }
    if (lost) {
      --connected_;
      ConnectionsChanged(std::string(), &lines, &unanswerable);
    }
  }
  if (laneWasFull) work_.NotifyAll();
  idle_.NotifyAll();
  PrintLines(lines);
  for (Waiting& waiting : unanswerable) waiting.call.unanswered();
}

}  // namespace palisard
