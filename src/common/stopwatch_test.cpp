#include "common/stopwatch.h"

#include <gtest/gtest.h>

#include "helpers/fake_clock.h"

namespace palisard {
namespace {

TEST(StopwatchTest, NeverStartedReadsZero) {
  FakeClock clock;
  Stopwatch watch;
  clock.Advance(5000);
  EXPECT_EQ(watch.ElapsedMs(clock), 0.0);
  EXPECT_EQ(watch.ElapsedMinutes(clock), 0.0);
}

TEST(StopwatchTest, RunsWithTheClockAndFreezesWhenStopped) {
  FakeClock clock;
  Stopwatch watch;
  watch.Start(clock);
  clock.Advance(1500);
  EXPECT_EQ(watch.ElapsedMs(clock), 1500.0);
  EXPECT_DOUBLE_EQ(watch.ElapsedSeconds(clock), 1.5);
  watch.Stop(clock);
  clock.Advance(10'000);
  EXPECT_EQ(watch.ElapsedMs(clock), 1500.0);
}

// Minutes are seconds x 0.01667: five of them are reached just before 300 s,
// and peers' expiry timing depends on that exact boundary.
TEST(StopwatchTest, FiveComputedMinutesArriveAt299941Ms) {
  FakeClock clock;
  Stopwatch watch;
  watch.Start(clock);
  clock.Advance(299'940);
  EXPECT_LT(watch.ElapsedMinutes(clock), 5.0);
  clock.Advance(1);
  EXPECT_GE(watch.ElapsedMinutes(clock), 5.0);
}

TEST(StopwatchTest, OneComputedMinuteArrivesBeforeSixtySeconds) {
  FakeClock clock;
  Stopwatch watch;
  watch.Start(clock);
  clock.Advance(59'988);
  EXPECT_LT(watch.ElapsedMinutes(clock), 1.0);
  clock.Advance(1);
  EXPECT_GE(watch.ElapsedMinutes(clock), 1.0);
}

}  // namespace
}  // namespace palisard
