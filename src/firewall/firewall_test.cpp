#include "firewall/firewall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "helpers/fake_clock.h"
#include "helpers/memory_filter_engine.h"

namespace palisard {
namespace {

constexpr uint32_t kAddressA = 0xC0A80114;  // 192.168.1.20
constexpr uint32_t kAddressB = 0xC0A80115;
constexpr uint64_t kPlayer = 76561197960265728ULL;
constexpr uint64_t kOther = 76561197960265729ULL;

class FirewallTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(firewall.Initialize().ok()); }

  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall{engine, clock};
};

TEST_F(FirewallTest, BlockAddsOneFilterKeyedByCommunityId) {
  EXPECT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  ASSERT_EQ(engine.filters().size(), 1u);
  const auto& filter = engine.filters().begin()->second;
  EXPECT_EQ(filter.address, kAddressA);
  BlockKey expected{0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x10, 0x01};  // little-endian id, zeros after
  EXPECT_EQ(filter.key, expected);
  auto blocks = firewall.Blocks();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks.front().filterId, engine.filters().begin()->first);
  EXPECT_EQ(blocks.front().timer.state, Stopwatch::kRunning);
}

TEST_F(FirewallTest, SameIdAndAddressTwiceIsRefusedWithOneFilter) {
  EXPECT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  const Result again = firewall.BlockPlayer(kAddressA, kPlayer);
  EXPECT_EQ(again.code(), Firewall::kRefused);
  EXPECT_TRUE(InForce(again)) << "made before, not now";
  EXPECT_FALSE(InForce(firewall.BlockPlayer(0, kPlayer)));
  EXPECT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(firewall.Blocks().size(), 1u);
}

TEST_F(FirewallTest, SameIdAtNewAddressReplacesTheOldBlock) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  uint64_t oldFilter = firewall.Blocks().front().filterId;
  EXPECT_TRUE(firewall.BlockPlayer(kAddressB, kPlayer).ok());
  ASSERT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(engine.filters().count(oldFilter), 0u);
  auto blocks = firewall.Blocks();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks.front().address, kAddressB);
}

TEST_F(FirewallTest, AddressOrIdZeroIsRefused) {
  EXPECT_EQ(firewall.BlockPlayer(0, kPlayer).code(), Firewall::kRefused);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, 0).code(), Firewall::kRefused);
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, UnblockLiftsTheFilterAndUnknownIdGivesOne) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  EXPECT_EQ(firewall.UnblockPlayer(kOther).code(), Firewall::kNoSuchBlock);
  EXPECT_TRUE(firewall.UnblockPlayer(kPlayer).ok());
  EXPECT_TRUE(engine.filters().empty());
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer).code(), Firewall::kNoSuchBlock);
}

TEST_F(FirewallTest, TwoPlayersBehindOneAddressAreBlockedSeparately) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kOther).ok());
  EXPECT_EQ(engine.filters().size(), 2u);
  ASSERT_TRUE(firewall.UnblockPlayer(kPlayer).ok());
  ASSERT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(BlockKeyCommunityId(engine.filters().begin()->second.key), kOther);
}

TEST_F(FirewallTest, FailingAddLeavesNoRecordAndPassesTheCodeThrough) {
  engine.FailNextAddWith(5);  // ERROR_ACCESS_DENIED
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer).code(), 5u);
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_TRUE(engine.filters().empty());
}

// A filter left behind by an earlier run is replaced, so the new record
// holds a filter id that really lifts the block.
TEST_F(FirewallTest, StaleFilterWithTheSameKeyIsReplaced) {
  uint64_t stale = engine.InjectFilter(MakeBlockKey(kPlayer), kAddressB);
  EXPECT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  ASSERT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(engine.filters().count(stale), 0u);
  ASSERT_EQ(firewall.Blocks().size(), 1u);
  EXPECT_EQ(firewall.Blocks().front().filterId, engine.filters().begin()->first);
  EXPECT_TRUE(firewall.UnblockPlayer(kPlayer).ok());
  EXPECT_TRUE(engine.filters().empty());

  // One that cannot be deleted stays; nothing is recorded and the code says
  // why.
  engine.InjectFilter(MakeBlockKey(kOther), kAddressB);
  engine.FailDeletesWith(0x80070005);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kOther).code(), 0x80070005u);
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_EQ(engine.filters().size(), 1u);
}

// A delete the engine refuses keeps the record, whichever operation tried
// it, so a later ClearBlocks lifts the block after all.
TEST_F(FirewallTest, RefusedDeleteKeepsTheRecordForALaterTry) {
  const std::pair<const char*, std::function<void()>> lifts[] = {
      {"UnblockPlayer", [&] { EXPECT_EQ(firewall.UnblockPlayer(kPlayer).code(), 0x80070005u); }},
      {"RemoveBlock", [&] { EXPECT_EQ(firewall.RemoveBlock(firewall.Blocks().front()).code(), 0x80070005u); }},
      {"RemoveBlocksIf", [&] { firewall.RemoveBlocksIf([](BlockRecord) { return true; }); }},
      {"ClearBlocks", [&] { firewall.ClearBlocks(); }},
      {"BlockPlayerElsewhere", [&] { EXPECT_EQ(firewall.BlockPlayer(kAddressB, kPlayer).code(), 0x80070005u); }},
  };
  for (const auto& [name, lift] : lifts) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
    engine.FailDeletesWith(0x80070005);  // E_ACCESSDENIED
    lift();
    ASSERT_EQ(firewall.Blocks().size(), 1u);
    EXPECT_EQ(firewall.Blocks().front().address, kAddressA);
    EXPECT_EQ(engine.filters().size(), 1u);
    engine.FailDeletesWith(0);
    firewall.ClearBlocks();
    EXPECT_TRUE(firewall.Blocks().empty());
    EXPECT_TRUE(engine.filters().empty());
  }
}

TEST_F(FirewallTest, FilterGoneFromTheEngineCountsAsLifted) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  ASSERT_EQ(engine.DeleteFilterById(firewall.Blocks().front().filterId), 0u);
  EXPECT_TRUE(firewall.UnblockPlayer(kPlayer).ok());
  EXPECT_TRUE(firewall.Blocks().empty());
}

// The exit path: what could not be lifted is reported, the engine closed
// all the same (its dynamic session takes the rest).
TEST_F(FirewallTest, ShutdownReportsTheBlocksItCouldNotLift) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  ASSERT_TRUE(firewall.BlockPlayer(kAddressB, kOther).ok());
  engine.FailDeletesWith(0x80070005);
  std::vector<UnliftedBlock> unlifted;
  ASSERT_TRUE(firewall.Shutdown(std::chrono::seconds(1), &unlifted).ok());
  ASSERT_EQ(unlifted.size(), 2u);
  EXPECT_EQ(unlifted[0].record.CommunityId(), kPlayer);
  EXPECT_EQ(unlifted[1].record.address, kAddressB);
  EXPECT_EQ(unlifted[1].error, 0x80070005u);
  EXPECT_FALSE(engine.isOpen());
  EXPECT_TRUE(firewall.Blocks().empty());
}

// An operation stuck inside the lock (a crash in it) does not hold the exit
// path for ever: it gives up, having done nothing.
TEST_F(FirewallTest, ShutdownGivesUpOnALockHeldTooLong) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  std::thread stuck([&] {
    firewall.RemoveBlocksIf([&](BlockRecord) {
      inside = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return false;
    });
  });
  while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::vector<UnliftedBlock> unlifted;
  EXPECT_EQ(firewall.Shutdown(std::chrono::milliseconds(30), &unlifted).kind(), Result::Kind::kTimedOut);
  release = true;
  stuck.join();
  EXPECT_TRUE(engine.isOpen());
  EXPECT_EQ(engine.filters().size(), 1u);
  EXPECT_TRUE(firewall.Shutdown(std::chrono::milliseconds(30), &unlifted).ok());
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, RemoveBlockForgetsEveryRecordOfTheId) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  BlockRecord record = firewall.Blocks().front();
  EXPECT_TRUE(firewall.RemoveBlock(record).ok());
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, RemoveBlocksIfTrueForAllEmptiesTheList) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  ASSERT_TRUE(firewall.BlockPlayer(kAddressB, kOther).ok());
  firewall.RemoveBlocksIf([](BlockRecord) { return true; });
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, BlocksExpireAtFiveComputedMinutes) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  clock.Advance(100'000);
  ASSERT_TRUE(firewall.BlockPlayer(kAddressB, kOther).ok());
  auto expired = [this](BlockRecord record) { return IsBlockExpired(record, clock); };

  clock.Advance(199'940);  // first block at 299,940 ms
  firewall.RemoveBlocksIf(expired);
  EXPECT_EQ(firewall.Blocks().size(), 2u);
  clock.Advance(1);  // 299,941 ms
  firewall.RemoveBlocksIf(expired);
  ASSERT_EQ(firewall.Blocks().size(), 1u);
  EXPECT_EQ(firewall.Blocks().front().CommunityId(), kOther);
  EXPECT_EQ(engine.filters().size(), 1u);
}

TEST_F(FirewallTest, ClearAndShutdownLiftEverythingAndLaterCallsAreHarmless) {
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  firewall.ClearBlocks();
  EXPECT_TRUE(engine.filters().empty());
  ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());

  std::vector<UnliftedBlock> unlifted;
  ASSERT_TRUE(firewall.Shutdown(std::chrono::seconds(1), &unlifted).ok());
  EXPECT_TRUE(unlifted.empty());
  EXPECT_TRUE(engine.filters().empty());
  EXPECT_FALSE(engine.isOpen());
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer).code(), Firewall::kNotOpen);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer).kind(), Result::Kind::kClosed);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer).code(), Firewall::kNotOpen);
  firewall.RemoveBlocksIf([](BlockRecord) { return true; });
  firewall.ClearBlocks();
  EXPECT_TRUE(firewall.Shutdown(std::chrono::seconds(1), &unlifted).ok());
}

TEST(FirewallLifecycleTest, EveryOperationBeforeInitializeIsHarmless) {
  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall(engine, clock);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer).code(), Firewall::kNotOpen);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer).code(), Firewall::kNotOpen);
  EXPECT_EQ(firewall.RemoveBlock(BlockRecord{}).code(), Firewall::kNotOpen);
  bool called = false;
  firewall.RemoveBlocksIf([&](BlockRecord) { return called = true; });
  firewall.ClearBlocks();
  EXPECT_FALSE(called);
  EXPECT_TRUE(engine.filters().empty());
}

TEST(FirewallLifecycleTest, InitializeTwiceKeepsTheFirstEngine) {
  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall(engine, clock);
  EXPECT_TRUE(firewall.Initialize().ok());
  EXPECT_EQ(firewall.Initialize().code(), Firewall::kAlreadyInitialized);
  EXPECT_EQ(engine.openCount(), 1);
}

TEST(FirewallLifecycleTest, FailedInitializeLeavesTheFirewallClosed) {
  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall(engine, clock);
  engine.FailOpenWith(0x6E4);
  EXPECT_EQ(firewall.Initialize().code(), 0x6E4u);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer).code(), Firewall::kNotOpen);
}

TEST(FirewallLifecycleTest, DestructorLiftsEveryBlockAndClosesTheEngine) {
  MemoryFilterEngine engine;
  FakeClock clock;
  {
    Firewall firewall(engine, clock);
    ASSERT_TRUE(firewall.Initialize().ok());
    ASSERT_TRUE(firewall.BlockPlayer(kAddressA, kPlayer).ok());
  }
  EXPECT_TRUE(engine.filters().empty());
  EXPECT_FALSE(engine.isOpen());
}

// Blocks made, lifted and swept from several threads at once (the watcher,
// web and admin threads); the race detector build checks the locking.
TEST_F(FirewallTest, ConcurrentBlocksAndSweepsKeepListAndEngineInStep) {
  std::vector<std::thread> threads;
  for (uint64_t t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (uint64_t i = 1; i <= 200; ++i) {
        uint64_t id = t * 1000 + i;
        (void)firewall.BlockPlayer(static_cast<uint32_t>(0x0A000000 + id), id);
        if (i % 3 == 0) (void)firewall.UnblockPlayer(id - 1);
      }
    });
  }
  threads.emplace_back([this] {
    for (int i = 0; i < 200; ++i) firewall.RemoveBlocksIf([](BlockRecord r) { return r.CommunityId() % 7 == 0; });
  });
  for (std::thread& thread : threads) thread.join();

  auto blocks = firewall.Blocks();
  EXPECT_EQ(blocks.size(), engine.filters().size());
  for (const BlockRecord& record : blocks) EXPECT_EQ(engine.filters().count(record.filterId), 1u);
}

}  // namespace
}  // namespace palisard
