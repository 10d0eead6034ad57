#include "game/vote_book.h"

#include <gtest/gtest.h>

#include "helpers/fake_clock.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

TEST(VoteBookTest, ThresholdAndTheTwoKickRules) {
  const uint32_t needed[] = {1, 1, 1, 2, 2, 3, 3};
  for (uint32_t registered = 0; registered <= 6; ++registered) {
    EXPECT_EQ(VotesNeeded(registered), needed[registered]) << registered << " registered";
  }
  struct Case {
    uint32_t votes, needed;
    bool kicks, staysBlocked;
  };
  for (const Case& c :
       {Case{1, 2, false, false}, Case{2, 2, true, false}, Case{3, 2, true, true}, Case{1, 0, false, false}}) {
    EXPECT_EQ(VoteKicks(c.votes, c.needed), c.kicks) << c.votes << "/" << c.needed;
    EXPECT_EQ(StaysBlocked(c.votes, c.needed), c.staysBlocked) << c.votes << "/" << c.needed;
  }
}

// A hosting copy with six registered players (three votes needed).
class RecordVoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    match.ownId = match.hostId = 100;
    for (uint64_t slot = 0; slot < 6; ++slot) {
      match.clients[slot] = GameClientEntry::For("p", {198, 18, 0, static_cast<uint8_t>(slot + 1)}, 1, 100 + slot);
    }
    match.SyncPlayerRecords();
    for (std::size_t slot = 0; slot < 6; ++slot) match.players[slot].key = 7;
  }

  VoteOutcome Vote(uint64_t voter, uint64_t target) { return RecordVote(match, voter, 7, target, clock); }

  MatchData match;
  FakeClock clock;
};

TEST_F(RecordVoteTest, AVoteThatLeftWithItsVoterNeverCounts) {
  EXPECT_FALSE(Vote(101, 105).kick);
  EXPECT_FALSE(Vote(102, 105).kick);
  match.clients[1] = GameClientEntry{};  // the first voter leaves: five registered, still three needed
  match.SyncPlayerRecords();
  const VoteOutcome third = Vote(103, 105);
  EXPECT_EQ(third.kind, VoteOutcome::kRecorded);
  EXPECT_FALSE(third.kick) << "two votes present, not three";
  EXPECT_EQ(CountVotesAgainst(match, 105), 2u);
  EXPECT_EQ(VotesAgainstSlot(match, 5), 2u);
}

}  // namespace
}  // namespace palisard
