#include "app/console.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "helpers/fake_clock.h"
#include "helpers/memory_filter_engine.h"
#include "helpers/temp_dir.h"

namespace palisard {
namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  // Runs the console over `input` and returns what it printed.
  std::string Run(const std::string& input, ConsoleEnd expectedEnd) {
    std::FILE* file = std::fopen(dir.Write("input.txt", input).string().c_str(), "rb");
    EXPECT_NE(file, nullptr);
    ::testing::internal::CaptureStdout();
    ConsoleEnd end = RunConsole(file, state, desk);
    std::string output = ::testing::internal::GetCapturedStdout();
    std::fclose(file);
    EXPECT_EQ(end, expectedEnd);
    return output;
  }

  void Occupy(std::size_t slot, const std::string& name, uint64_t id) {
    state.EditForTest([&](MatchData& d) {
      d.clients[slot].SetName(name);
      d.clients[slot].SetCommunityId(id);
    });
  }

  TempDir dir;
  MatchState state;
  FakeClock clock;
  MemoryFilterEngine engine;
  Firewall firewall{engine, clock};
  bool banned = false;
  BlockDesk desk{firewall, state, clock, [this](uint64_t) { return banned; }};
};

const char kHeader[] = "##\tCommunity ID      Name\n";

TEST_F(ConsoleTest, PlistWithoutGamePrintsOnlyTheHeader) {
  EXPECT_EQ(Run("plist\nexit\n", ConsoleEnd::kExitCommand), kHeader);
}

TEST_F(ConsoleTest, PlistListsOccupiedSlotsWithSignedIdsAndRawNames) {
  Occupy(0, "^1Alpha", 76561197960287930ULL);
  // Control bytes never reach the terminal, nor a U+202E they part.
  Occupy(5, "Bravo\x1b[2J <x>\xE2\x80\x01\xAE\r", 0xFFFFFFFFFFFFFFFFULL);
  EXPECT_EQ(Run("plist\r\n", ConsoleEnd::kEndOfInput),
            std::string(kHeader) + "0\t76561197960287930 ^1Alpha\n5\t-1 Bravo[2J <x>\n");
}

TEST_F(ConsoleTest, OnlyExactCommandWordsAreCommands) {
  std::string output =
      Run(" plist\nplist \nPLIST\nPlist\n\nExit\nexit \n exit\nexit\nplist\n", ConsoleEnd::kExitCommand);
  EXPECT_EQ(output, "");
}

TEST_F(ConsoleTest, OverlongLineIsIgnoredNotSplit) {
  // 255 characters ending in "exit": split at 254 the tail would be a
  // command.
  std::string overlong = std::string(251, ' ') + "exit";
  ASSERT_EQ(overlong.size(), 255u);
  std::string longPlist = std::string(300, 'x') + "plist";
  EXPECT_EQ(Run(overlong + "\n" + longPlist + "\nplist\n", ConsoleEnd::kEndOfInput), kHeader);
}

TEST_F(ConsoleTest, LineOf254CharactersStillCounts) {
  // Not a command, but read whole: the next line is still seen.
  EXPECT_EQ(Run(std::string(254, 'y') + "\nexit\n", ConsoleEnd::kExitCommand), "");
}

TEST_F(ConsoleTest, LastLineWithoutNewlineIsRead) { EXPECT_EQ(Run("exit", ConsoleEnd::kExitCommand), ""); }

TEST_F(ConsoleTest, BlocksAreListedAndUnblockLiftsOneAndWithdrawsItsVotes) {
  const uint64_t troll = 76561197960265999ULL;
  Occupy(0, "Voter", 76561197960287930ULL);
  Occupy(2, "^1Troll", troll);
  state.EditForTest([&](MatchData& d) {
    d.SyncPlayerRecords();
    d.players[0].votedIds = {troll};
  });
  ASSERT_TRUE(firewall.Initialize().ok());
  ASSERT_TRUE(firewall.BlockPlayer(0xC6120004, troll, BlockReason::kVotes).ok());
  clock.Advance(60'000);
  EXPECT_EQ(Run("blocks\nunblock 5\nunblock x5\nunblock 76561197960265999\nblocks\n", ConsoleEnd::kEndOfInput),
            "Community ID\tAddress\tWhy\tLeft\tName\n"
            "76561197960265999\t198.18.0.4\tvotes\t3:59\t^1Troll\n"
            "No block for 5\n"
            "Not a community id: x5\n"
            "Unblocked 76561197960265999 ( 198.18.0.4 ); the votes against the player are withdrawn\n"
            "No blocks in force\n");
  EXPECT_EQ(CountVotesAgainst(state.Snapshot(), troll), 0u);

  banned = true;
  ASSERT_TRUE(firewall.BlockPlayer(0xC6120004, troll, BlockReason::kBan).ok());
  EXPECT_EQ(Run("blocks\nunblock 76561197960265999\n", ConsoleEnd::kEndOfInput),
            "Community ID\tAddress\tWhy\tLeft\tName\n"
            "76561197960265999\t198.18.0.4\tban\t4:59\t^1Troll\n"
            "Unblocked 76561197960265999 ( 198.18.0.4 ), but the ban service says the player is banned: blocked "
            "again on the next pass\n");
}

}  // namespace
}  // namespace palisard
