#include "game/match_state.h"

#include <gtest/gtest.h>

#include "helpers/fake_clock.h"

namespace palisard {
namespace {

TEST(GameClientEntryTest, FieldsSitAtTheGamesOffsets) {
  GameClientEntry entry = GameClientEntry::For("^1Red", {10, 0, 0, 7}, 0xABCD, 0x0110000100000001ULL);
  EXPECT_EQ(entry.bytes[0], '^');
  EXPECT_EQ(entry.bytes[4], 'd');
  EXPECT_EQ(entry.bytes[5], 0);
  EXPECT_EQ(entry.bytes[174], 10);
  EXPECT_EQ(entry.bytes[177], 7);
  EXPECT_EQ(entry.bytes[178], 0xCD);  // little-endian as stored
  EXPECT_EQ(entry.bytes[179], 0xAB);
  EXPECT_EQ(entry.bytes[220], 0x01);
  EXPECT_EQ(entry.bytes[227], 0x01);
  EXPECT_EQ(entry.Name(), "^1Red");
  EXPECT_EQ(entry.CommunityId(), 0x0110000100000001ULL);
  EXPECT_EQ(entry.Port(), 0xABCD);
}

TEST(GameClientEntryTest, NameWithoutTerminatorStopsAtTheAddress) {
  GameClientEntry entry;
  entry.bytes.fill('A');
  EXPECT_EQ(entry.Name().size(), layout::kClientAddressOffset);
}

TEST(AddressToHostOrderTest, FirstOctetGoesToTheTopByte) {
  EXPECT_EQ(AddressToHostOrder({192, 168, 1, 20}), 0xC0A80114u);
  EXPECT_EQ(AddressToHostOrder({0, 0, 0, 0}), 0u);
}

class MatchStateTest : public ::testing::Test {
 protected:
  // Puts a player in `slot` and lets the records follow, as one read pass.
  void Occupy(std::size_t slot, const std::string& name, Ipv4Bytes address, uint64_t id) {
    state.clients[slot] = GameClientEntry::For(name, address, 28960, id);
    state.SyncPlayerRecords();
  }

  MatchData state;
  FakeClock clock;
};

TEST_F(MatchStateTest, StartsWithEighteenEmptySlots) {
  EXPECT_EQ(state.maxClients, 18u);
  ASSERT_EQ(state.clients.size(), 18u);
  ASSERT_EQ(state.players.size(), 18u);
  EXPECT_TRUE(IsHosting(state));  // both ids are 0 before any game
}

TEST_F(MatchStateTest, NewPlayerInASlotGetsAFreshRecord) {
  Occupy(3, "first", {1, 2, 3, 4}, 111);
  PlayerRecord& record = state.players[3];
  record.key = 42;
  record.votedIds.push_back(222);
  record.voteTimer.Start(clock);
  record.votesAgainst = 2;

  Occupy(3, "second", {5, 6, 7, 8}, 333);

  const PlayerRecord& fresh = state.players[3];
  EXPECT_EQ(fresh.communityId, 333u);
  EXPECT_EQ(fresh.key, 0u);
  EXPECT_TRUE(fresh.votedIds.empty());
  EXPECT_EQ(fresh.voteTimer.state, Stopwatch::kNeverStarted);
  EXPECT_EQ(fresh.votesAgainst, 0u);
  EXPECT_EQ(fresh.ip, (Ipv4Bytes{5, 6, 7, 8}));
}

TEST_F(MatchStateTest, SamePlayerKeepsRecordWhenNameOrAddressChange) {
  Occupy(0, "name", {1, 2, 3, 4}, 111);
  state.players[0].key = 42;
  state.players[0].votedIds.push_back(222);

  Occupy(0, "renamed", {9, 9, 9, 9}, 111);
  state.clients[0].SetPort(1234);
  state.SyncPlayerRecords();

  EXPECT_EQ(state.players[0].key, 42u);
  EXPECT_EQ(state.players[0].votedIds.size(), 1u);
  EXPECT_EQ(state.players[0].ip, (Ipv4Bytes{9, 9, 9, 9}));
  EXPECT_EQ(state.players[0].port, 1234);
}

TEST_F(MatchStateTest, LeavingPlayerLeavesAZeroedRecord) {
  Occupy(2, "gone", {1, 2, 3, 4}, 111);
  state.players[2].key = 7;
  state.clients[2] = GameClientEntry{};
  state.SyncPlayerRecords();
  EXPECT_EQ(state.players[2].communityId, 0u);
  EXPECT_EQ(state.players[2].key, 0u);
  EXPECT_EQ(state.players[2].ip, (Ipv4Bytes{0, 0, 0, 0}));
}

TEST_F(MatchStateTest, GrowingKeepsRecordsAndAddsZeroedOnes) {
  for (std::size_t i = 0; i < 18; ++i) {
    Occupy(i, "p", {1, 1, 1, static_cast<uint8_t>(i)}, 100 + i);
    state.players[i].key = static_cast<uint32_t>(i + 1);
  }
  ASSERT_TRUE(state.Resize(24));
  EXPECT_EQ(state.maxClients, 24u);
  ASSERT_EQ(state.players.size(), 24u);
  ASSERT_EQ(state.clients.size(), 24u);
  for (std::size_t i = 0; i < 18; ++i) EXPECT_EQ(state.players[i].key, i + 1) << i;
  for (std::size_t i = 18; i < 24; ++i) {
    EXPECT_EQ(state.players[i].communityId, 0u);
    EXPECT_EQ(state.clients[i].CommunityId(), 0u);
  }
}

TEST_F(MatchStateTest, ShrinkingKeepsTheFirstRecords) {
  Occupy(0, "a", {1, 1, 1, 1}, 100);
  Occupy(17, "b", {1, 1, 1, 2}, 200);
  ASSERT_TRUE(state.Resize(12));
  ASSERT_EQ(state.players.size(), 12u);
  EXPECT_EQ(state.players[0].communityId, 100u);
  ASSERT_TRUE(state.Resize(18));
  EXPECT_EQ(state.players[17].communityId, 0u);  // dropped, not brought back
}

TEST_F(MatchStateTest, SlotCountsOutsideTheLimitAreRefused) {
  for (int32_t bad : {0, -1, 1025, INT32_MIN}) {
    EXPECT_FALSE(state.Resize(bad)) << bad;
    EXPECT_EQ(state.maxClients, 18u);
    EXPECT_EQ(state.players.size(), 18u);
  }
  EXPECT_TRUE(state.Resize(1));
  EXPECT_TRUE(state.Resize(1024));
}

TEST_F(MatchStateTest, CountVotesAgainstCountsEachVoterOnce) {
  Occupy(0, "a", {1, 1, 1, 1}, 100);
  Occupy(1, "b", {1, 1, 1, 2}, 200);
  Occupy(2, "c", {1, 1, 1, 3}, 300);
  state.players[0].votedIds = {300, 300};
  state.players[1].votedIds = {100, 300};
  EXPECT_EQ(CountVotesAgainst(state, 300), 2u);
  EXPECT_EQ(CountVotesAgainst(state, 100), 1u);
  EXPECT_EQ(CountVotesAgainst(state, 999), 0u);

  // A voter who left no longer counts.
  state.clients[1] = GameClientEntry{};
  state.SyncPlayerRecords();
  EXPECT_EQ(CountVotesAgainst(state, 300), 1u);
}

TEST_F(MatchStateTest, ALateAnswerFromThePreviousServerChangesNothing) {
  FollowServer(state, {198, 18, 0, 1}, 28960);
  const uint32_t previous = state.serverGeneration;
  FollowServer(state, {198, 18, 0, 2}, 28960);
  HostSilent(state, previous);
  EXPECT_FALSE(HostAnswered(state, previous));
  EXPECT_EQ(state.hostAdminPort, 3061);
  EXPECT_FALSE(state.hostEnabled);
  HostSilent(state, state.serverGeneration);
  EXPECT_EQ(state.hostAdminPort, 3062) << "the current server's silence moves on";

  // A host's table that no longer names a player leaves it no votes.
  Occupy(0, "a", {1, 1, 1, 1}, 100);
  ApplyVoteTable(state, state.serverGeneration, 2, {{100, 2}});
  ApplyVoteTable(state, state.serverGeneration, 2, {});
  EXPECT_EQ(state.players[0].votesAgainst, 0u);
}

TEST_F(MatchStateTest, ClearSlotsEmptiesEverySlot) {
  Occupy(4, "a", {1, 1, 1, 1}, 100);
  state.players[4].key = 9;
  state.ClearSlots();
  EXPECT_EQ(state.clients[4].CommunityId(), 0u);
  EXPECT_EQ(state.players[4].key, 0u);
  EXPECT_EQ(state.players.size(), 18u);
}

}  // namespace
}  // namespace palisard
