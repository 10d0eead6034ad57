#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "helpers/fake_http_server.h"
#include "helpers/network_namespace.h"
#include "system/browser.h"
#include "system/game_sim_process.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

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
    for (const char* command : {"own 76561197960287930", "join 0 76561197960287930 198.18.0.1 28960 ^1Host<One>",
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

  std::unique_ptr<NetworkNamespace> machine;
  std::unique_ptr<PidNamespace> pids;
  std::unique_ptr<GameSim> game;
  std::unique_ptr<PalisardProcess> palisard;
};

TEST_F(WebConsoleSystemTest, CurlGetsStatus200AndThePage) {
  std::string answer = machine->Capture("curl -s -S -m 5 -D - http://127.0.0.1:3060/ -o - -w '\\nstatus=%{http_code}'");
  EXPECT_NE(answer.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("<h4>Host&lt;One&gt; | Palisard Enabled</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("/profiles/76561197960265728\">profile</a> | Fifth Player</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("<h4>Fifth: gg &lt;3</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("status=200"), std::string::npos) << answer;
  const std::string listening = machine->Capture("ss -Hltn");
  EXPECT_NE(listening.find("127.0.0.1:3060 "), std::string::npos) << "the console is this machine's alone\n"
                                                                  << listening;
  EXPECT_NE(listening.find("0.0.0.0:3061 "), std::string::npos) << "the admin port faces the network\n" << listening;
}

// The pages render in a browser; clicked there, the console's own links
// act; another site's page in the same browser gets nothing done in the
// player's name.
TEST_F(WebConsoleSystemTest, BrowserShowsThePagesOwnLinksActAnotherSiteCannot) {
  const std::string fifth = "76561197960265728";
  const std::string attack = "http://127.0.0.1:3060/report?" + fifth;
  const std::string attackPage = "<html><body><img src=\"" + attack + "\"><form id=\"f\" method=\"post\" action=\"" +
                                 "http://127.0.0.1:3060/votekick?" + fifth + "\"></form><script>fetch('" + attack +
                                 "', {mode: 'no-cors'}); document.getElementById('f').submit();</script></body></html>";
  // Another site on this machine; made and stopped inside the namespace.
  auto stopInside = [&](FakeHttpServer* server) { machine->Inside([&] { delete server; }); };
  std::unique_ptr<FakeHttpServer, decltype(stopInside)> site(machine->Inside([&] {
    return new FakeHttpServer(
        [&](const std::string&) {
          return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(attackPage.size()) +
                 "\r\n\r\n" + attackPage;
        },
        FakeHttpServer::Mode::kAnswer, Ipv4Endpoint{0x7F000002, 0});
  }),
                                                             stopInside);
  Browser browser(*machine);

  browser.Open("http://127.0.0.1:3060/");
  const std::string main = browser.Run("document.documentElement.outerHTML");
  EXPECT_NE(main.find("<h1>Palisard</h1>"), std::string::npos) << main;
  EXPECT_NE(main.find("Host&lt;One&gt;"), std::string::npos) << main;
  EXPECT_NE(main.find("Fifth Player"), std::string::npos) << main;
  EXPECT_NE(main.find("Fifth: gg &lt;3"), std::string::npos) << main;
  // The open page follows the match: a new chat line shows without a
  // reload, and a row that did not change is the same node still.
  browser.Run(
      "window.notReloaded = true; window.hostRow = document.querySelector('a[href=\"/report?76561197960287930\"]')"
      ".parentNode");
  ASSERT_TRUE(game->Do("chat ^2Fifth: still <here>"));
  EXPECT_TRUE(browser.WaitFor("window.notReloaded && document.body.innerText.indexOf('Fifth: still <here>') >= 0", 2s))
      << browser.Run("document.documentElement.outerHTML");
  EXPECT_TRUE(browser.WaitFor("window.hostRow.isConnected", 1s));

  browser.Open("http://127.0.0.2:" + std::to_string(site->port()) + "/");
  // The form's answer replaces the page: the refusal, or a result page.
  EXPECT_TRUE(browser.WaitFor("document.body && document.body.innerText.indexOf('Refused') >= 0"))
      << browser.Run("document.documentElement.outerHTML");
  std::this_thread::sleep_for(500ms);  // the image and the fetch have had their turn
  EXPECT_EQ(palisard->process().Output().find("Reporting"), std::string::npos) << palisard->process().Output();
  EXPECT_EQ(palisard->process().Output().find("Requesting a votekick"), std::string::npos);

  // Clicked with scripts on, the links act in place: the result page's
  // message shows beside the row and the page stays.
  browser.Open("http://127.0.0.1:3060/");
  browser.Run("window.notReloaded = true");
  const std::string besideRow = "window.notReloaded && (document.querySelector('a[href=\"/%s?" + fifth +
                                "\"]').parentNode.querySelector('span') || {}).textContent == ";
  auto beside = [&](const char* link, const std::string& text) {
    std::string condition = besideRow;
    condition.replace(condition.find("%s"), 2, link);
    return condition + "'" + text + "'";
  };
  browser.Run("document.querySelector('a[href=\"/report?" + fifth + "\"]').click()");
  EXPECT_TRUE(palisard->process().WaitForOutput("Reporting " + fifth + "..\n"));
  EXPECT_TRUE(browser.WaitFor(beside("report", "Report failed unexpectedly")))
      << browser.Run("document.documentElement.outerHTML");
  browser.Run("document.querySelector('a[href=\"/votekick?" + fifth + "\"]').click()");
  EXPECT_TRUE(palisard->process().WaitForOutput("Requesting a votekick on " + fifth + "..\n"));
  EXPECT_TRUE(browser.WaitFor(beside("votekick", "Votekick successful")))
      << browser.Run("document.documentElement.outerHTML");
  // One registered copy: its vote kicks. The block shows; its link lifts it.
  EXPECT_TRUE(browser.WaitFor("document.querySelector('#Blocked a[href=\"/unblock?" + fifth + "\"]')"));
  browser.Run("document.querySelector('a[href=\"/unblock?" + fifth + "\"]').click()");
  EXPECT_TRUE(palisard->process().WaitForOutput("Unblocked " + fifth +
                                                " ( 198.18.0.5 ); the votes against the player are withdrawn\n"));
}

}  // namespace
}  // namespace palisard
