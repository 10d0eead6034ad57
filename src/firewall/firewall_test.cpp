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
  void SetUp() override { ASSERT_EQ(firewall.Initialize(), 0u); }

  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall{engine, clock};
};

TEST_F(FirewallTest, BlockAddsOneFilterKeyedByCommunityId) {
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
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
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), Firewall::kRefused);
  EXPECT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(firewall.Blocks().size(), 1u);
}

TEST_F(FirewallTest, SameIdAtNewAddressReplacesTheOldBlock) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  uint64_t oldFilter = firewall.Blocks().front().filterId;
  EXPECT_EQ(firewall.BlockPlayer(kAddressB, kPlayer), 0u);
  ASSERT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(engine.filters().count(oldFilter), 0u);
  auto blocks = firewall.Blocks();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks.front().address, kAddressB);
}

TEST_F(FirewallTest, AddressOrIdZeroIsRefused) {
  EXPECT_EQ(firewall.BlockPlayer(0, kPlayer), Firewall::kRefused);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, 0), Firewall::kRefused);
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, UnblockLiftsTheFilterAndUnknownIdGivesOne) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  EXPECT_EQ(firewall.UnblockPlayer(kOther), Firewall::kNoSuchBlock);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer), 0u);
  EXPECT_TRUE(engine.filters().empty());
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer), Firewall::kNoSuchBlock);
}

TEST_F(FirewallTest, TwoPlayersBehindOneAddressAreBlockedSeparately) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kOther), 0u);
  EXPECT_EQ(engine.filters().size(), 2u);
  ASSERT_EQ(firewall.UnblockPlayer(kPlayer), 0u);
  ASSERT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(BlockKeyCommunityId(engine.filters().begin()->second.key), kOther);
}

TEST_F(FirewallTest, FailingAddLeavesNoRecordAndPassesTheCodeThrough) {
  engine.FailNextAddWith(5);  // ERROR_ACCESS_DENIED
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 5u);
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_TRUE(engine.filters().empty());
}

// A filter left behind by an earlier run is replaced, so the new record
// holds a filter id that really lifts the block.
TEST_F(FirewallTest, StaleFilterWithTheSameKeyIsReplaced) {
  uint64_t stale = engine.InjectFilter(MakeBlockKey(kPlayer), kAddressB);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), Firewall::kAlreadyExists);
  ASSERT_EQ(engine.filters().size(), 1u);
  EXPECT_EQ(engine.filters().count(stale), 0u);
  ASSERT_EQ(firewall.Blocks().size(), 1u);
  EXPECT_EQ(firewall.Blocks().front().filterId, engine.filters().begin()->first);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer), 0u);
  EXPECT_TRUE(engine.filters().empty());

  // One that cannot be deleted stays; nothing is recorded and the code says
  // so (not 0x80320009, which means recorded).
  engine.InjectFilter(MakeBlockKey(kOther), kAddressB);
  engine.FailDeletesWith(0x80070005);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kOther), 0x80070005u);
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_EQ(engine.filters().size(), 1u);
}

// A delete the engine refuses keeps the record, whichever operation tried
// it, so a later ClearBlocks lifts the block after all.
TEST_F(FirewallTest, RefusedDeleteKeepsTheRecordForALaterTry) {
  const std::pair<const char*, std::function<void()>> lifts[] = {
      {"UnblockPlayer", [&] { EXPECT_EQ(firewall.UnblockPlayer(kPlayer), 0x80070005u); }},
      {"RemoveBlock", [&] { EXPECT_EQ(firewall.RemoveBlock(firewall.Blocks().front()), 0x80070005u); }},
      {"RemoveBlocksIf", [&] { firewall.RemoveBlocksIf([](BlockRecord) { return true; }); }},
      {"ClearBlocks", [&] { firewall.ClearBlocks(); }},
      {"BlockPlayerElsewhere", [&] { EXPECT_EQ(firewall.BlockPlayer(kAddressB, kPlayer), 0x80070005u); }},
  };
  for (const auto& [name, lift] : lifts) {
    SCOPED_TRACE(name);
    ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
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
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  ASSERT_EQ(engine.DeleteFilterById(firewall.Blocks().front().filterId), 0u);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer), FilterEngine::kFilterNotFound);
  EXPECT_TRUE(firewall.Blocks().empty());
}

// The exit path: what could not be lifted is reported, the engine closed
// all the same (its dynamic session takes the rest).
TEST_F(FirewallTest, ShutdownReportsTheBlocksItCouldNotLift) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  ASSERT_EQ(firewall.BlockPlayer(kAddressB, kOther), 0u);
  engine.FailDeletesWith(0x80070005);
  auto unlifted = firewall.Shutdown(std::chrono::seconds(1));
  ASSERT_TRUE(unlifted);
  ASSERT_EQ(unlifted->size(), 2u);
  EXPECT_EQ((*unlifted)[0].record.CommunityId(), kPlayer);
  EXPECT_EQ((*unlifted)[1].record.address, kAddressB);
  EXPECT_EQ((*unlifted)[1].error, 0x80070005u);
  EXPECT_FALSE(engine.isOpen());
  EXPECT_TRUE(firewall.Blocks().empty());
}

// An operation stuck inside the lock (a crash in it) does not hold the exit
// path for ever: it gives up, having done nothing.
TEST_F(FirewallTest, ShutdownGivesUpOnALockHeldTooLong) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
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
  EXPECT_FALSE(firewall.Shutdown(std::chrono::milliseconds(30)));
  release = true;
  stuck.join();
  EXPECT_TRUE(engine.isOpen());
  EXPECT_EQ(engine.filters().size(), 1u);
  EXPECT_TRUE(firewall.Shutdown(std::chrono::milliseconds(30)));
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, RemoveBlockForgetsEveryRecordOfTheId) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  BlockRecord record = firewall.Blocks().front();
  EXPECT_EQ(firewall.RemoveBlock(record), 0u);
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, RemoveBlocksIfTrueForAllEmptiesTheList) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  ASSERT_EQ(firewall.BlockPlayer(kAddressB, kOther), 0u);
  firewall.RemoveBlocksIf([](BlockRecord) { return true; });
  EXPECT_TRUE(firewall.Blocks().empty());
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(FirewallTest, BlocksExpireAtFiveComputedMinutes) {
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  clock.Advance(100'000);
  ASSERT_EQ(firewall.BlockPlayer(kAddressB, kOther), 0u);
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
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
  firewall.ClearBlocks();
  EXPECT_TRUE(engine.filters().empty());
  ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);

  auto unlifted = firewall.Shutdown(std::chrono::seconds(1));
  ASSERT_TRUE(unlifted);
  EXPECT_TRUE(unlifted->empty());
  EXPECT_TRUE(engine.filters().empty());
  EXPECT_FALSE(engine.isOpen());
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), Firewall::kNotOpen);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer), Firewall::kNotOpen);
  firewall.RemoveBlocksIf([](BlockRecord) { return true; });
  firewall.ClearBlocks();
  EXPECT_TRUE(firewall.Shutdown(std::chrono::seconds(1)));
}

TEST(FirewallLifecycleTest, EveryOperationBeforeInitializeIsHarmless) {
  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall(engine, clock);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), Firewall::kNotOpen);
  EXPECT_EQ(firewall.UnblockPlayer(kPlayer), Firewall::kNotOpen);
  EXPECT_EQ(firewall.RemoveBlock(BlockRecord{}), Firewall::kNotOpen);
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
  EXPECT_EQ(firewall.Initialize(), 0u);
  EXPECT_EQ(firewall.Initialize(), Firewall::kAlreadyInitialized);
  EXPECT_EQ(engine.openCount(), 1);
}

TEST(FirewallLifecycleTest, FailedInitializeLeavesTheFirewallClosed) {
  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall(engine, clock);
  engine.FailOpenWith(0x6E4);
  EXPECT_EQ(firewall.Initialize(), 0x6E4u);
  EXPECT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), Firewall::kNotOpen);
}

TEST(FirewallLifecycleTest, DestructorLiftsEveryBlockAndClosesTheEngine) {
  MemoryFilterEngine engine;
  FakeClock clock;
  {
    Firewall firewall(engine, clock);
    ASSERT_EQ(firewall.Initialize(), 0u);
    ASSERT_EQ(firewall.BlockPlayer(kAddressA, kPlayer), 0u);
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
