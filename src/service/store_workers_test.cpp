#include "service/store_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "helpers/temp_dir.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// Runs `calls` calls on `lane` at once and gives how many ran with a store,
// and the most that ran at the same time.
struct Batch {
  int withStore = 0;
  int mostAtOnce = 0;
};
Batch RunBatch(StoreWorkers& workers, std::size_t lane, int calls, std::chrono::milliseconds each = 20ms) {
  std::atomic<int> withStore{0}, running{0}, most{0};
  std::vector<std::future<void>> done;
  for (int i = 0; i < calls; ++i) {
    auto ended = std::make_shared<std::promise<void>>();
    done.push_back(ended->get_future());
    workers.Post(lane, std::chrono::steady_clock::now() + 10s, [&, ended](Store* store) {
      const int now = ++running;
      for (int seen = most; seen < now && !most.compare_exchange_weak(seen, now);) {
      }
      if (store != nullptr) {
        ++withStore;
        std::this_thread::sleep_for(each);
      }
      --running;
      ended->set_value();
      return Result::Ok();
    });
  }
  for (auto& call : done) call.wait();
  return {withStore.load(), most.load()};
}

// A database that lets so many connections in, and refuses the others as
// a full PostgreSQL does.
TEST(StoreWorkersTest, CallsGoOnlyToWorkersHoldingAConnectionWhileTheOthersTryAgain) {
  TempDir dir;
  const std::string url = (dir.path() / "service.db").string();
  std::atomic<int> room{0};
  StoreWorkers workers(3, {3, 1}, [&](std::unique_ptr<Store>* store) {
    if (room.fetch_sub(1) <= 0) {
      ++room;
      return Result::Failure(Result::Kind::kUnavailable, 0, "too many clients already");
    }
    return OpenStore(url, store);
  });
  // None at all: every call is answered at once, without a store.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunBatch(workers, 0, 5).withStore, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

  // One: every call runs on it, one at a time.
  room = 1;
  std::this_thread::sleep_for(300ms);  // the workers' next tries
  Batch one = RunBatch(workers, 0, 12);
  EXPECT_EQ(one.withStore, 12);
  EXPECT_EQ(one.mostAtOnce, 1);

  // All: within a few pauses every worker holds one; a lane runs on no more
  // workers than it may.
  room = 2;
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(RunBatch(workers, 0, 12).mostAtOnce, 3);
  EXPECT_EQ(RunBatch(workers, 1, 6).mostAtOnce, 1);
}

TEST(FaultLogTest, TellsTheFirstThenACountAMinuteThenTheEnd) {
  FaultLog log;
  const FaultLog::Time t0;
  EXPECT_EQ(log.Failed("disk full", t0), "store calls fail: disk full");
  EXPECT_EQ(log.Failed("disk full", t0 + 30s), std::nullopt);
  EXPECT_EQ(log.Failed("no answer", t0 + 40s), "store calls fail: no answer") << "another kind is told at once";
  EXPECT_EQ(log.Failed("disk full", t0 + 61s), "2 more store calls failed in the last minute: disk full");
  EXPECT_EQ(log.Failed("disk full", t0 + 62s), std::nullopt);
  EXPECT_EQ(log.Succeeded(t0 + 65s), std::vector<std::string>{"store calls succeed again, after 1 failed: no answer"})
      << "too soon after the last disk full";
  EXPECT_EQ(log.Succeeded(t0 + 72s), std::vector<std::string>{"store calls succeed again, after 4 failed: disk full"});
  EXPECT_EQ(log.Failed("disk full", t0 + 73s), "store calls fail: disk full") << "a new episode";
}

}  // namespace
}  // namespace palisard
