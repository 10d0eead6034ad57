#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/game_sim_process.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

// The real program beside the stand-in, its console fetched by curl and by
// a headless browser from inside its namespace.
class WebConsoleSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
    machine = std::make_unique<NetworkNamespace>();
    pids = std::make_unique<PidNamespace>(*machine);
    game = std::make_unique<GameSim>(*pids);
    ASSERT_TRUE(game->ready());
    for (const char* command :
         {"own 76561197960287930", "join 0 76561197960287930 198.18.0.1 28960 ^1Host<One>",
          "join 5 76561197960265728 198.18.0.5 28960 Fifth Player", "server 198.18.0.1 28960"}) {
      ASSERT_TRUE(game->Do(command));
    }
    palisard = std::make_unique<PalisardProcess>(*machine, TestSettings(), pids.get());
    ASSERT_TRUE(palisard->process().WaitForOutput("Server set to: ^1Host<One>\n")) << palisard->process().Output();
    ASSERT_TRUE(game->Do("chat ^2Fifth: gg <3"));
    ASSERT_TRUE(palisard->process().WaitForOutput("Fifth: gg <3\n"));
    // This copy hosts: its probe finds its own admin service within a pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  std::string Browse(const std::string& path) {
    TempDir profile;
    return machine->Capture(
        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
        profile.path().string() + " --dump-dom http://127.0.0.1:3060" + path + " 2>/dev/null");
  }

  std::unique_ptr<NetworkNamespace> machine;
  std::unique_ptr<PidNamespace> pids;
  std::unique_ptr<GameSim> game;
  std::unique_ptr<PalisardProcess> palisard;
};

TEST_F(WebConsoleSystemTest, CurlGetsStatus200AndThePage) {
  std::string answer =
      machine->Capture("curl -s -S -m 5 -D - http://127.0.0.1:3060/ -o - -w '\\nstatus=%{http_code}'");
  EXPECT_NE(answer.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("<h4>Host&lt;One&gt; | Palisard Enabled</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("/profiles/76561197960265728\">profile</a> | Fifth Player</h4>"), std::string::npos)
      << answer;
  EXPECT_NE(answer.find("<h4>Fifth: gg &lt;3</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("status=200"), std::string::npos) << answer;
}

TEST_F(WebConsoleSystemTest, BrowserRendersTheMainAndResultPages) {
  std::string main = Browse("/");
  EXPECT_NE(main.find("<h1>Palisard</h1>"), std::string::npos) << main;
  EXPECT_NE(main.find("Host&lt;One&gt;"), std::string::npos) << main;
  EXPECT_NE(main.find("Fifth Player"), std::string::npos) << main;
  EXPECT_NE(main.find("href=\"/report?76561197960265728\""), std::string::npos) << main;
  EXPECT_NE(main.find("Fifth: gg &lt;3"), std::string::npos) << main;

  std::string result = Browse("/report?76561197960265728");
  EXPECT_NE(result.find("go back"), std::string::npos) << result;
}

}  // namespace
}  // namespace palisard
