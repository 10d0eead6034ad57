#include "app/exit_paths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace palisard {
namespace {

using namespace std::chrono_literals;

// Two exit paths at once: the second returns only after the first has
// finished its work, and never runs the work itself.
TEST(OnceForAllTest, SecondCallerWaitsForTheFirstToFinish) {
  OnceForAll once;
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  std::atomic<int> runs{0};
  std::thread first([&] {
    once.Run(
        [&] {
          ++runs;
          while (!release) std::this_thread::sleep_for(1ms);
          finished = true;
        },
        1s);
  });
  while (runs == 0) std::this_thread::sleep_for(1ms);

  std::atomic<bool> secondReturned{false};
  std::thread second([&] {
    EXPECT_TRUE(once.Run([&] { ++runs; }, 10s));
    EXPECT_TRUE(finished) << "returned while the first was still removing";
    secondReturned = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(secondReturned);
  release = true;
  first.join();
  second.join();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(once.Run([&] { ++runs; }, 0ms)) << "finished work answers at once";
  EXPECT_EQ(runs, 1);
}

// A first path stuck for good (a crash inside the firewall) does not hold
// the second for ever.
TEST(OnceForAllTest, WaitIsBounded) {
  OnceForAll once;
  std::atomic<bool> release{false};
  std::atomic<bool> started{false};
  std::thread stuck([&] {
    once.Run(
        [&] {
          started = true;
          while (!release) std::this_thread::sleep_for(1ms);
        },
        1s);
  });
  while (!started) std::this_thread::sleep_for(1ms);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(once.Run([] {}, 100ms));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 99ms);  // the clock counts whole milliseconds: less than one of them may be missing
  EXPECT_LT(waited, 2s);
  release = true;
  stuck.join();
}

}  // namespace
}  // namespace palisard
