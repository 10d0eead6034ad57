#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

const std::string kWindowsPalisard = std::string(PALISARD_WINDOWS_BUILD_DIR) + "/src/palisard.exe";
const std::string kWindowsGameSim = std::string(PALISARD_WINDOWS_BUILD_DIR) + "/tools/game-sim/iw5mp.exe";

// A Windows program under Wine, quiet and without Mono or Gecko offers.
std::unique_ptr<ChildProcess> UnderWine(const std::string& exe, const std::filesystem::path& directory) {
  return std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/env", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", "wine", exe},
      directory);
}

class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kWindowsPalisard) || !std::filesystem::exists(kWindowsGameSim)) {
      GTEST_SKIP() << "the Windows build is not there (scripts/build.sh windows)";
    }
  }
};

// Under Wine the filtering platform answers 0x6E4 (not supported), so the
// Windows program stops at its firewall step.
TEST_F(WineTest, WindowsProgramStartsUpToTheFirewallStep) {
  TempDir dir;
  dir.Write("Palisard.ini", "[Palisard]\nCheckForUpdates=0\n");
  auto palisard = UnderWine(kWindowsPalisard, dir.path());
  palisard->CloseInput();
  ASSERT_TRUE(palisard->WaitForOutput("Press enter to exit..", 120s)) << palisard->Output();
  std::string output = palisard->Output();
  EXPECT_NE(output.find("Palisard Server Tool version 1.0.1"), std::string::npos) << output;
  EXPECT_NE(output.find("Note: Make sure you port-forward the admin port!"), std::string::npos) << output;
  EXPECT_NE(output.find("Error initializing firewall: 6e4"), std::string::npos) << output;
  EXPECT_TRUE(palisard->WaitForExit(30s));
}

// The game under Wine is a Linux process named "iw5mp.exe" with its image at
// 0x400000: the Linux build finds and follows the Windows stand-in.
TEST_F(WineTest, LinuxBuildFollowsTheWindowsStandIn) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
  TempDir gameDir;
  auto game = UnderWine(kWindowsGameSim, gameDir.path());
  ASSERT_TRUE(game->WaitForOutput("ready", 120s)) << game->Output();
  for (const char* command :
       {"own 76561197960287930\n", "join 3 76561197960287930 198.18.0.1 28960 WinePlayer\n", "server 198.18.0.1 28960\n"}) {
    std::size_t mark = game->Output().size();
    game->Write(command);
    ASSERT_TRUE(game->WaitForOutput("ok", 10s, mark)) << game->Output();
  }

  NetworkNamespace machine;
  PalisardProcess palisard(machine, TestSettings());
  EXPECT_TRUE(palisard.process().WaitForOutput("Game found..\n", 20s)) << palisard.process().Output();
  EXPECT_TRUE(palisard.process().WaitForOutput("Server set to: WinePlayer\n", 10s)) << palisard.process().Output();
  palisard.process().Write("plist\n");
  EXPECT_TRUE(palisard.process().WaitForOutput("3\t76561197960287930 WinePlayer\n", 5s)) << palisard.process().Output();
}

}  // namespace
}  // namespace palisard
