#include <arpa/inet.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/byte_order.h"
#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/admin_voter.h"
#include "system/child_process.h"
#include "system/palisard_process.h"
#include "system/pid_namespace.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

const std::string kWindowsPalisard = std::string(PALISARD_WINDOWS_BUILD_DIR) + "/src/palisard.exe";
const std::string kWindowsGameSim = std::string(PALISARD_WINDOWS_BUILD_DIR) + "/tools/game-sim/iw5mp.exe";
const std::string kFilteringStandIn = std::string(PALISARD_WINDOWS_BUILD_DIR) + "/tools/fwpuclnt-stand-in/fwpuclnt.dll";

constexpr uint64_t kHost = 76561198000000001ULL;
constexpr uint64_t kVoter = 76561198000000002ULL;
constexpr uint64_t kTarget = 76561198000000003ULL;

// A Windows program under Wine, quiet and without Mono or Gecko offers;
// `moreOverrides` are added to the DLL overrides.
std::vector<std::string> UnderWine(const std::string& exe, const std::string& moreOverrides = "") {
  return {"/usr/bin/env", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=" + moreOverrides, "wine", exe};
}

// The Windows program beside the recording stand-in of the filtering API,
// which Wine takes in place of its own. Its console lines end in CR LF.
std::unique_ptr<PalisardProcess> WindowsPalisard(const NetworkNamespace& machine, const PidNamespace& pids,
                                                 std::vector<std::string> files = {}) {
  files.push_back(kWindowsPalisard);
  files.push_back(kFilteringStandIn);
  return std::make_unique<PalisardProcess>(machine, TestSettings(), &pids, UnderWine("palisard.exe", ";fwpuclnt=n"),
                                           "palisard.exe", files);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& start) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (line.rfind(start, 0) == 0) lines.push_back(line);
  }
  return lines;
}

// The block key as the stand-in writes it: the id little-endian, zeros after.
std::string KeyHex(uint64_t communityId) {
  uint8_t bytes[8];
  WriteLe64(bytes, communityId);
  char hex[33] = {};
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
  return std::string(hex) + "0000000000000000";
}

class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kWindowsPalisard) || !std::filesystem::exists(kWindowsGameSim) ||
        !std::filesystem::exists(kFilteringStandIn)) {
      GTEST_SKIP() << "the Windows build is not there (scripts/build.sh windows)";
    }
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for namespaces";
    machine = std::make_unique<NetworkNamespace>();
    pids = std::make_unique<PidNamespace>(*machine);
  }

  // The Windows stand-in of the game, hosting a match of three: this
  // machine's player, a voter whose copy talks from 127.0.0.1, a target.
  void StartWindowsGame() {
    game = pids->Start(UnderWine(kWindowsGameSim), gameDir.path());
    // A first run under Wine may have to make its prefix: minutes, once.
    ASSERT_TRUE(game->WaitForOutput("ready", 180s)) << game->Output();
    for (const std::string& command :
         {"own " + std::to_string(kHost), "join 0 " + std::to_string(kHost) + " 198.18.0.1 28960 Host",
          "join 1 " + std::to_string(kVoter) + " 127.0.0.1 28960 Voter",
          "join 2 " + std::to_string(kTarget) + " 198.18.0.9 28960 Target", std::string("server 198.18.0.1 28960")}) {
      std::size_t mark = game->Output().size();
      game->Write(command + "\n");
      ASSERT_TRUE(game->WaitForOutput("ok", 10s, mark)) << game->Output();
    }
  }

  std::string Calls() { return ReadFile(palisard->directory().path() / "fwpuclnt-calls.log"); }

  std::unique_ptr<NetworkNamespace> machine;
  std::unique_ptr<PidNamespace> pids;
  TempDir gameDir;
  std::unique_ptr<ChildProcess> game;
  std::unique_ptr<PalisardProcess> palisard;
};

// Without the stand-in, Wine's own filtering API answers 0x6E4 (not
// supported), which the engine passes on in HRESULT form, and the program
// stops at its firewall step.
TEST_F(WineTest, WindowsProgramStopsAtTheFirewallStepOnWinesOwnEngine) {
  TempDir dir;
  dir.Write("Palisard.ini", "[Palisard]\nCheckForUpdates=0\n");
  auto process = pids->Start(UnderWine(kWindowsPalisard), dir.path());
  process->CloseInput();
  ASSERT_TRUE(process->WaitForOutput("Press enter to exit..", 180s)) << process->Output();
  std::string output = process->Output();
  EXPECT_NE(output.find("Palisard Server Tool version 1.0.1"), std::string::npos) << output;
  EXPECT_NE(output.find("Note: Make sure you port-forward the admin port!"), std::string::npos) << output;
  EXPECT_NE(output.find("Error initializing firewall: 800706e4\r\n"), std::string::npos) << output;
  EXPECT_TRUE(process->WaitForExit(30s));
}

// The game under Wine is a Linux process named "iw5mp.exe" with its image at
// 0x400000: the Linux build finds and follows the Windows stand-in.
TEST_F(WineTest, LinuxBuildFollowsTheWindowsStandIn) {
  StartWindowsGame();
  palisard = std::make_unique<PalisardProcess>(*machine, TestSettings(), pids.get());
  ChildProcess& process = palisard->process();
  EXPECT_TRUE(process.WaitForOutput("Game found..\n", 20s)) << process.Output();
  EXPECT_TRUE(process.WaitForOutput("Server set to: Host\n", 10s)) << process.Output();
  process.Write("plist\n");
  EXPECT_TRUE(process.WaitForOutput("2\t" + std::to_string(kTarget) + " Target\n", 5s)) << process.Output();
}

// The whole Windows program: start-up past the firewall, the game found,
// the console served, a vote-kick blocking the target with one filter of a
// dynamic session, and "exit" deleting it before the prompt.
TEST_F(WineTest, WindowsProgramHostsAMatchAndLiftsItsBlockOnExit) {
  StartWindowsGame();
  auto start = std::chrono::steady_clock::now();
  palisard = WindowsPalisard(*machine, *pids);
  ChildProcess& process = palisard->process();
  ASSERT_TRUE(process.WaitForOutput("Game found..\r\n", 60s)) << process.Output();
  auto found = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("palisard.exe under Wine: \"Game found..\" %lld ms after start\n", static_cast<long long>(found.count()));
  ASSERT_TRUE(process.WaitForOutput("Server set to: Host\r\n", 10s)) << process.Output();
  EXPECT_EQ(LinesStartingWith(Calls(),
                              "FwpmEngineOpen0 serverName=null authnService=10 authIdentity=null "
                              "sessionFlags=0x1 -> 0 ")
                .size(),
            1u)
      << Calls();

  std::string page = machine->Capture("curl -s -m 5 http://127.0.0.1:3060/");
  EXPECT_NE(page.find("profile</a> | <bdi>Target</bdi></h4>"), std::string::npos) << page;

  EXPECT_EQ(VoteKickThroughAdminPort(*machine, 3061, kVoter, INADDR_LOOPBACK, kTarget), "Votekick successful");
  ASSERT_TRUE(process.WaitForOutput("Kicking " + std::to_string(kTarget) + "\r\n")) << process.Output();
  std::vector<std::string> adds = LinesStartingWith(Calls(), "FwpmFilterAdd0 ");
  ASSERT_EQ(adds.size(), 1u) << Calls();
  EXPECT_NE(
      adds[0].find(" key=" + KeyHex(kTarget) +
                   " name=\"Palisard SubLayer\" address=198.18.0.9 mask=255.255.255.255 action=block sd=null -> 0 id="),
      std::string::npos)
      << adds[0];
  const std::string id = adds[0].substr(adds[0].find(" id=") + 4, adds[0].find(" live=") - adds[0].find(" id=") - 4);

  process.Write("exit\n");
  ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\r\n", 10s)) << process.Output();
  std::string calls = Calls();
  std::vector<std::string> deletes = LinesStartingWith(calls, "FwpmFilterDeleteById0 ");
  ASSERT_EQ(deletes.size(), 1u) << calls;
  EXPECT_NE(deletes[0].find(" id=" + id + " -> 0 live=0"), std::string::npos) << calls;
  EXPECT_EQ(LinesStartingWith(calls, "FwpmEngineClose0 ").size(), 1u) << calls;
  EXPECT_LT(calls.find("FwpmFilterDeleteById0"), calls.find("FwpmEngineClose0")) << calls;
  process.Write("\n");
  EXPECT_TRUE(process.WaitForExit(30s));
}

// A killed program runs no handler, yet leaves no live filter: its session
// is dynamic. The target's key is taken by a lasting filter that an older
// build left behind; the program replaces it with one of its own session.
TEST_F(WineTest, KilledWindowsProgramLeavesNoLiveFilter) {
  StartWindowsGame();
  TempDir leftovers;
  auto leftover = leftovers.Write("fwpuclnt-lasting-filters.txt", "11111 " + KeyHex(kTarget) + " c6120009 ffffffff\n");
  palisard = WindowsPalisard(*machine, *pids, {leftover.string()});
  ChildProcess& process = palisard->process();
  ASSERT_TRUE(process.WaitForOutput("Server set to: Host\r\n", 60s)) << process.Output();
  EXPECT_EQ(VoteKickThroughAdminPort(*machine, 3061, kVoter, INADDR_LOOPBACK, kTarget), "Votekick successful");
  ASSERT_TRUE(process.WaitForOutput("Kicking " + std::to_string(kTarget) + "\r\n")) << process.Output();
  std::string calls = Calls();
  EXPECT_NE(calls.find("FwpmFilterDeleteByKey0 engine="), std::string::npos) << calls;
  ASSERT_EQ(LinesStartingWith(calls, "FwpmFilterAdd0 ").size(), 2u) << calls;
  EXPECT_NE(LinesStartingWith(calls, "FwpmFilterAdd0 ")[1].find(" -> 0 id="), std::string::npos) << calls;

  palisard->Signal(SIGKILL);
  ASSERT_TRUE(process.WaitForExit(10s));
  EXPECT_EQ(LinesStartingWith(Calls(), "FwpmFilterDeleteById0 ").size(), 0u) << "no handler ran";
  EXPECT_EQ(ReadFile(palisard->directory().path() / "fwpuclnt-lasting-filters.txt"), "")
      << "a filter outlived the program";
}

}  // namespace
}  // namespace palisard
