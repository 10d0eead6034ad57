#include "app/host_duties.h"

#include <gtest/gtest.h>

#include <map>

namespace palisard {
namespace {

constexpr uint64_t kHost = 76561197960287930ULL;
constexpr uint64_t kOther = 76561197960265728ULL;
constexpr uint64_t kThird = 76561197960265999ULL;

struct FakeBanList : BanList {
  bool Streaming() const override { return streaming; }
  void AskAbout(const std::vector<uint64_t>& ids) override { asked.push_back(ids); }
  std::optional<bool> IsBanned(uint64_t id) const override {
    auto it = answers.find(id);
    if (it == answers.end()) return std::nullopt;
    return it->second;
  }
  bool streaming = true;
  std::map<uint64_t, bool> answers;
  std::vector<std::vector<uint64_t>> asked;
};

struct RecordingBlocker : Blocker {
  void Block(uint32_t address, uint64_t id) override { blocked.emplace_back(address, id); }
  void RemoveExpiredBlocks() override { ++sweeps; }
  void ClearBlocks() override { ++clears; }
  std::vector<std::pair<uint32_t, uint64_t>> blocked;
  int sweeps = 0;
  int clears = 0;
};

// This copy hosts a match of three: itself in slot 0, two others.
class HostDutiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.EditForTest([](MatchData& d) {
      d.ownId = d.hostId = kHost;
      d.clients[0] = GameClientEntry::For("Me", {127, 0, 0, 1}, 28960, kHost);
      d.clients[1] = GameClientEntry::For("Them", {198, 18, 0, 9}, 28960, kOther);
      d.clients[4] = GameClientEntry::For("Third", {198, 18, 0, 4}, 28960, kThird);
      d.SyncPlayerRecords();
    });
  }

  MatchState state;
  FakeBanList bans;
  RecordingBlocker blocker;
  HostDuties duties{state, bans, blocker};
};

TEST_F(HostDutiesTest, VotedOutPlayersAreBlockedAboveTheThresholdOnly) {
  state.EditForTest([](MatchData& d) {
    d.votesNeeded = 2;
    d.players[1].votesAgainst = 2;
    d.players[4].votesAgainst = 3;
  });
  duties.AfterPass(true);
  using Block = std::pair<uint32_t, uint64_t>;
  EXPECT_EQ(blocker.blocked, (std::vector<Block>{{0xC6120004u, kThird}})) << "equal to the threshold is not enough";
  EXPECT_EQ(blocker.sweeps, 1);
}

TEST_F(HostDutiesTest, BannedPlayersAreBlockedButNeverTheHost) {
  bans.answers = {{kHost, true}, {kOther, true}, {kThird, false}};
  duties.AfterPass(true);
  ASSERT_EQ(bans.asked.size(), 1u);
  EXPECT_EQ(bans.asked[0], (std::vector<uint64_t>{kHost, kOther, kThird}));
  ASSERT_EQ(blocker.blocked.size(), 1u);
  EXPECT_EQ(blocker.blocked[0].second, kOther);

  bans.streaming = false;  // answers are kept, but no longer act
  blocker.blocked.clear();
  duties.AfterPass(true);
  EXPECT_TRUE(blocker.blocked.empty());
}

TEST_F(HostDutiesTest, NotHostingOnlySweepsAndLosingTheHostingClears) {
  bans.answers = {{kOther, true}};
  duties.AfterPass(false);
  EXPECT_TRUE(bans.asked.empty());
  EXPECT_TRUE(blocker.blocked.empty());
  EXPECT_EQ(blocker.sweeps, 1) << "blocks made while hosting still expire";
  duties.StoppedHosting();
  EXPECT_EQ(blocker.clears, 1);
}

}  // namespace
}  // namespace palisard
