#include "common/thread_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

namespace palisard {
namespace {

using namespace std::chrono_literals;

// Two tasks that each wait for the other finish only if they run at once:
// no task is queued behind another, even with a thread waiting idle.
TEST(ThreadCacheTest, TasksNeverWaitForEachOther) {
  ThreadCache threads(10s);
  ASSERT_TRUE(threads.Run([] {}));  // leaves one idle thread behind
  std::this_thread::sleep_for(20ms);

  std::promise<void> aReady, bReady;
  std::atomic<int> finished{0};
  ASSERT_TRUE(threads.Run([&] {
    aReady.set_value();
    bReady.get_future().wait();
    ++finished;
  }));
  ASSERT_TRUE(threads.Run([&] {
    bReady.set_value();
    aReady.get_future().wait();
    ++finished;
  }));
  for (int i = 0; i < 500 && finished < 2; ++i) std::this_thread::sleep_for(2ms);
  EXPECT_EQ(finished.load(), 2);
}

TEST(ThreadCacheTest, FinishedThreadIsReusedAndIdleThreadsEnd) {
  std::set<std::thread::id> ids;
  std::mutex mutex;
  {
    ThreadCache threads(10s);
    for (int i = 0; i < 5; ++i) {
      std::promise<void> done;
      ASSERT_TRUE(threads.Run([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ids.insert(std::this_thread::get_id());
        done.set_value();
      }));
      done.get_future().wait();
      std::this_thread::sleep_for(10ms);  // back to waiting
    }
  }  // the destructor ends the waiting thread
  EXPECT_EQ(ids.size(), 1u);
}

}  // namespace
}  // namespace palisard
