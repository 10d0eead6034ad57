#include "service/http/store_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "helpers/temp_dir.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// Sign-ins hold a worker for long: the moderation pages' lane runs on one
// at most however many wait, and the players' calls keep the others.
TEST(StoreWorkersTest, ALaneRunsOnNoMoreWorkersThanItMay) {
  TempDir dir;
  const std::string url = (dir.path() / "service.db").string();
  std::unique_ptr<Store> made;  // the schema, before the workers open it
  ASSERT_TRUE(OpenStore(url, &made).ok());
  StoreWorkers workers(
      3, {3, 1}, [&](std::unique_ptr<Store>* store) { return OpenStore(url, store); }, SystemClock());
  std::atomic<int> running[2] = {0, 0}, most[2] = {0, 0};
  std::vector<std::future<void>> done;
  for (int i = 0; i < 12; ++i) {
    const std::size_t lane = i % 3 == 0 ? 0 : 1;
    auto ended = std::make_shared<std::promise<void>>();
    done.push_back(ended->get_future());
    // Counts the calls of its lane under way, for `busy`.
    auto counted = [&, lane, ended](std::chrono::milliseconds busy) {
      const int now = ++running[lane];
      for (int seen = most[lane]; seen < now && !most[lane].compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(busy);
      --running[lane];
      ended->set_value();
    };
    workers.Post(lane, Deadline(SystemClock(), 10s),
                 {[counted](Store&) {
                    counted(30ms);
                    return Result::Ok();
                  },
                  [counted] { counted(0ms); }});
  }
  for (auto& call : done) call.wait();
  EXPECT_EQ(most[1], 1);
  EXPECT_EQ(most[0], 2) << "the players' calls run beside it";
}

TEST(FaultLogTest, TellsTheFirstThenACountAMinuteThenTheEnd) {
  FaultLog log;
  const FaultLog::Time t0{0};
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
