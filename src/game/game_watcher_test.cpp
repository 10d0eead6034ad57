#include "game/game_watcher.h"

#include <gtest/gtest.h>

#include <functional>

#include "helpers/fake_clock.h"
#include "helpers/fake_game.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

constexpr uint64_t kOwnId = 76561197960287930ULL;
constexpr uint64_t kOtherId = 76561197960265728ULL;

// Records what the watcher hands on.
struct RecordingObserver : PassObserver {
  void AfterPass(bool hosting) override { passes.push_back(hosting); }
  void StoppedHosting() override { ++stoppedHosting; }
  std::vector<bool> passes;
  int stoppedHosting = 0;
};

class GameWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game.layout().SetOwnId(kOwnId);
    ASSERT_EQ(Capture([&] { return watcher.AttachToGame(4242); }), "Game found..\n");
  }

  template <typename Step>
  std::string Capture(Step step) {
    bool ok = step();
    std::string output = console.Take();
    EXPECT_TRUE(ok);
    return output;
  }

  // One read of the game and one pass over it; returns what was printed.
  std::string Pass() {
    return Capture([&] {
      bool read = watcher.RefreshMatchState();
      watcher.RunPass();
      return read;
    });
  }

  // This copy hosts a match with one other player in slot 1.
  void HostMatch() {
    game.layout().SetClient(0, GameClientEntry::For("Me", {127, 0, 0, 1}, 28960, kOwnId));
    game.layout().SetClient(1, GameClientEntry::For("Them", {198, 18, 0, 9}, 28960, kOtherId));
    game.layout().SetServer({127, 0, 0, 1}, 28960);
    Pass();
  }

  // The stored text of captured line `line`, one of the last eight.
  std::string Stored(uint32_t line) {
    const ChatLog log = state.Snapshot().chatLog;
    return log.Lines()[line + ChatLog::kLines - log.count()];
  }

  FakeGame game;
  FakeGameProcesses processes{game};
  MatchState state;
  FakeClock clock;
  std::vector<std::string> titles;
  RecordingObserver observer;
  RecordingConsole console;
  GameWatcher watcher{state,    processes, clock, [this](const std::string& t) { titles.push_back(t); },
                      observer, console};
};

TEST_F(GameWatcherTest, OnlyTheNewestFourChatLinesAreCaptured) {
  Pass();
  for (int i = 0; i < 6; ++i) game.layout().AddChatLine("line " + std::to_string(i));
  EXPECT_EQ(Pass(), "line 2\nline 3\nline 4\nline 5\n");
  EXPECT_EQ(state.Snapshot().chatLog.count(), 4u);
  EXPECT_EQ(Stored(0), "line 2");

  for (int i = 6; i < 10; ++i) game.layout().AddChatLine("line " + std::to_string(i));
  EXPECT_EQ(Pass(), "line 6\nline 7\nline 8\nline 9\n");
  EXPECT_EQ(Pass(), "");
}

TEST_F(GameWatcherTest, ChatIsPrintedCleanAndStoredUnescaped) {
  Pass();
  game.layout().AddChatLine("a<^1b>c");
  game.layout().AddChatLine("^^11");
  game.layout().AddChatLine("\x1b]0;x\a\x7f\t&\"");
  game.layout().AddChatLine(std::string(159, '<'));  // the longest line: no entity to cut
  EXPECT_EQ(Pass(), "a<b>c\n^1\n]0;x&\"\n" + std::string(159, '<') + "\n") << "no control byte reaches the terminal";
  EXPECT_EQ(Stored(0), "a<b>c");
  EXPECT_EQ(Stored(1), "") << "the stored line is cleaned a second time";
  EXPECT_EQ(Stored(2), "\x1b]0;x\a\x7f\t&\"");
  EXPECT_EQ(Stored(3), std::string(159, '<'));
}

TEST_F(GameWatcherTest, ChatCountGoingBackOrNegativeCapturesNothing) {
  Pass();
  game.layout().AddChatLine("one");
  game.layout().AddChatLine("two");
  Pass();
  game.layout().SetChatCounters(1, 1);  // the game's count went back
  EXPECT_EQ(Pass(), "");
  game.layout().AddChatLine("three");  // written as line 1, head 2
  EXPECT_EQ(Pass(), "three\n");
  game.layout().SetChatCounters(-3, -7);
  EXPECT_EQ(Pass(), "");
  EXPECT_EQ(state.Snapshot().chatLog.count(), 3u);
}

TEST_F(GameWatcherTest, ServerChangeFindsTheHostInTheLastMatchingSlot) {
  game.layout().SetClient(2, GameClientEntry::For("^1Fi\x1b[2Jrst", {198, 18, 0, 1}, 28960, 111));
  game.layout().SetClient(7, GameClientEntry::For("Second", {198, 18, 0, 1}, 28960, 222));
  game.layout().SetClient(9, GameClientEntry::For("OtherPort", {198, 18, 0, 1}, 1234, 333));
  game.layout().SetServer({198, 18, 0, 1}, 28960);
  EXPECT_EQ(Pass(), "Server set to: ^1Fi[2Jrst\nServer set to: Second\n");
  game.layout().SetClient(4, GameClientEntry::For("Stale", {198, 18, 0, 4}, 28960, 222));  // the host's id again
  Pass();
  EXPECT_EQ(state.Snapshot().hostId, 222u);
  EXPECT_EQ(state.Snapshot().hostAdminPort, 3061);
  EXPECT_EQ(titles.back(), "Palisard: Second") << "the last slot holding the host's id, not the last at its address";
}

TEST_F(GameWatcherTest, PortOnlyChangeResetsNothingAndZeroAddressDropsTheHost) {
  game.layout().SetClient(0, GameClientEntry::For("Host", {198, 18, 0, 1}, 28960, 111));
  game.layout().SetServer({198, 18, 0, 1}, 28960);
  Pass();
  state.EditForTest([&](MatchData& d) {
    d.hostEnabled = true;
    d.registered = true;
    d.registrationKey = 77;
    d.hostAdminPort = 3064;
  });
  game.layout().SetServer({198, 18, 0, 1}, 28999);
  EXPECT_EQ(Pass(), "");
  EXPECT_TRUE(state.Snapshot().hostEnabled);
  EXPECT_EQ(state.Snapshot().registrationKey, 77u);
  EXPECT_EQ(titles.back(), "Palisard: Host | Palisard Enabled");

  state.EditForTest([&](MatchData& d) {
    d.votesNeeded = 2;
    d.players[0].votesAgainst = 3;
  });
  game.layout().SetServer({0, 0, 0, 0}, 0);
  EXPECT_EQ(Pass(), "");
  EXPECT_EQ(state.Snapshot().votesNeeded, 0u) << "the old host's counts go";
  EXPECT_EQ(state.Snapshot().players[0].votesAgainst, 0u);
  EXPECT_EQ(state.Snapshot().hostId, 0u);
  EXPECT_FALSE(state.Snapshot().hostEnabled);
  EXPECT_FALSE(state.Snapshot().registered);
  EXPECT_EQ(state.Snapshot().registrationKey, 0u);
  EXPECT_EQ(titles.back(), "Palisard: No Host");
}

TEST_F(GameWatcherTest, NewPlayerInASlotGetsAFreshRecord) {
  game.layout().SetClient(4, GameClientEntry::For("A", {198, 18, 0, 4}, 1, 444));
  Pass();
  state.EditForTest([&](MatchData& d) {
    d.players[4].key = 9;
    d.players[4].votesAgainst = 3;
  });
  game.layout().SetClient(4, GameClientEntry::For("A renamed", {198, 18, 0, 5}, 2, 444));
  Pass();
  EXPECT_EQ(state.Snapshot().players[4].key, 9u);
  game.layout().SetClient(4, GameClientEntry::For("B", {198, 18, 0, 5}, 2, 555));
  Pass();
  EXPECT_EQ(state.Snapshot().players[4].key, 0u);
  EXPECT_EQ(state.Snapshot().players[4].votesAgainst, 0u);
}

TEST_F(GameWatcherTest, SlotCountChangesOnlyWithServerTextAndWithinBounds) {
  game.layout().SetSlotCount(24);
  EXPECT_EQ(Pass(), "Max Clients set to: 24\n");
  EXPECT_EQ(state.Snapshot().players.size(), 24u);
  game.layout().SetMapText("");
  game.layout().SetSlotCount(12);
  EXPECT_EQ(Pass(), "");
  EXPECT_EQ(state.Snapshot().maxClients, 24u);
  game.layout().SetMapText("mp_dome");
  game.layout().SetSlotCount(5000);
  EXPECT_EQ(Pass(), "");
  EXPECT_EQ(state.Snapshot().maxClients, 24u);
}

TEST_F(GameWatcherTest, TitleShowsNoGameHostAndEnabledSuffix) {
  // Not connected: empty slots (address 0.0.0.0) are no host.
  Pass();
  EXPECT_EQ(titles.back(), "Palisard: No Host");
  game.layout().SetClient(0, GameClientEntry::For("^2Bo\ass", {198, 18, 0, 1}, 28960, 111));
  game.layout().SetServer({198, 18, 0, 1}, 28960);
  Pass();
  EXPECT_EQ(titles.back(), "Palisard: ^2Boss");
  state.EditForTest([&](MatchData& d) { d.hostEnabled = true; });
  Pass();
  EXPECT_EQ(titles.back(), "Palisard: ^2Boss | Palisard Enabled");
  std::size_t count = titles.size();
  Pass();
  EXPECT_EQ(titles.size(), count) << "an unchanged title is not set again";
}

TEST_F(GameWatcherTest, EachPassIsHandedOnAndLosingTheHostingIsTold) {
  HostMatch();
  ASSERT_TRUE(state.IsHosting());
  EXPECT_TRUE(observer.passes.back());
  EXPECT_EQ(titles.back(), "Palisard: Me");

  // The match moves to a server where this copy's slot and then another
  // player's match: the other one hosts now.
  game.layout().SetClient(0, GameClientEntry::For("Me", {198, 18, 0, 9}, 28960, kOwnId));
  game.layout().SetServer({198, 18, 0, 9}, 28960);
  EXPECT_EQ(Pass(), "Server set to: Me\nServer set to: Them\n");
  EXPECT_EQ(observer.stoppedHosting, 1);
  EXPECT_FALSE(observer.passes.back());
}

TEST_F(GameWatcherTest, EveryWayOfLosingTheHostingIsToldOnce) {
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"another player hosts",
       [&] {
         game.layout().SetServer({198, 18, 0, 9}, 28960);
       }},
      {"no server",
       [&] {
         game.layout().SetServer({0, 0, 0, 0}, 0);
       }},
      {"another own id", [&] { game.layout().SetOwnId(kOtherId + 1); }},
  };
  for (const auto& [name, loseTheHosting] : ways) {
    game.layout().SetOwnId(kOwnId);
    HostMatch();
    ASSERT_TRUE(state.IsHosting()) << name;
    observer.stoppedHosting = 0;
    loseTheHosting();
    Pass();
    Pass();
    EXPECT_EQ(observer.stoppedHosting, 1) << name;
  }
}

TEST_F(GameWatcherTest, LostGameFailsTheRead) {
  Pass();
  game.SetRunning(false);
  EXPECT_FALSE(watcher.RefreshMatchState());
  EXPECT_TRUE(state.Snapshot().gameFound);
}

}  // namespace
}  // namespace palisard
