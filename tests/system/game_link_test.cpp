#include <gtest/gtest.h>

#include <memory>

#include "helpers/network_namespace.h"
#include "system/game_sim_process.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

class GameLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
    machine = std::make_unique<NetworkNamespace>();
    pids = std::make_unique<PidNamespace>(*machine);
  }

  // Waits for `text` in Palisard's output after position `from`.
  bool Sees(const std::string& text, std::size_t from = 0) {
    return palisard->process().WaitForOutput(text, std::chrono::seconds(10), from);
  }
  std::size_t Mark() { return palisard->process().Output().size(); }

  std::unique_ptr<NetworkNamespace> machine;
  std::unique_ptr<PidNamespace> pids;
  std::unique_ptr<PalisardProcess> palisard;
};

TEST_F(GameLinkTest, FollowsAMatchThroughTheStandIn) {
  auto game = std::make_unique<GameSim>(*pids);
  ASSERT_TRUE(game->ready());
  ASSERT_TRUE(game->Do("own 76561197960287930"));
  ASSERT_TRUE(game->Do("join 0 76561197960287930 198.18.0.1 28960 ^1Host"));
  ASSERT_TRUE(game->Do("join 5 76561197960265728 198.18.0.5 28960 Fifth Player"));
  ASSERT_TRUE(game->Do("server 198.18.0.1 28960"));

  palisard = std::make_unique<PalisardProcess>(*machine, TestSettings(), pids.get());
  ASSERT_TRUE(Sees("Game found..\n")) << palisard->process().Output();
  ASSERT_TRUE(Sees("Server set to: ^1Host\n")) << palisard->process().Output();

  std::size_t mark = Mark();
  palisard->process().Write("plist\n");
  EXPECT_TRUE(
      Sees("##\tCommunity ID      Name\n0\t76561197960287930 ^1Host\n5\t76561197960265728 Fifth Player\n", mark))
      << palisard->process().Output();

  mark = Mark();
  ASSERT_TRUE(game->Do("chat ^3Fifth: hello <all>"));
  EXPECT_TRUE(Sees("Fifth: hello <all>\n", mark));
  ASSERT_TRUE(game->Do("slots 24"));
  EXPECT_TRUE(Sees("Max Clients set to: 24\n", mark));

  mark = Mark();
  ASSERT_TRUE(game->Do("quit"));
  game.reset();
  EXPECT_TRUE(Sees("Game is no longer running..\n", mark)) << palisard->process().Output();

  mark = Mark();
  game = std::make_unique<GameSim>(*pids);
  ASSERT_TRUE(game->ready());
  EXPECT_TRUE(Sees("Game found..\n", mark)) << palisard->process().Output();
  palisard->process().Write("exit\n\n");
  EXPECT_TRUE(palisard->process().WaitForExit());
}

TEST_F(GameLinkTest, MissingPatternIsReportedEverySearch) {
  GameSim game(*pids, {"--omit", "3"});
  ASSERT_TRUE(game.ready());
  palisard = std::make_unique<PalisardProcess>(*machine, TestSettings(), pids.get());
  ASSERT_TRUE(Sees("Problem finding connection info..\n")) << palisard->process().Output();
  std::size_t mark = Mark();
  EXPECT_TRUE(Sees("Problem finding connection info..\n", mark)) << "tried again about a second later";
  EXPECT_EQ(palisard->process().Output().find("Game found"), std::string::npos);
}

}  // namespace
}  // namespace palisard
