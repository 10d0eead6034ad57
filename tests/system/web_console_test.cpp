#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
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
  EXPECT_NE(answer.find("<h4><bdi>Host&lt;One&gt;</bdi> | Palisard Enabled</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("/profiles/76561197960265728\">profile</a> | <bdi>Fifth Player</bdi></h4>"), std::string::npos)
      << answer;
  EXPECT_NE(answer.find("<h4>Fifth: gg &lt;3</h4>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("status=200"), std::string::npos) << answer;
  const std::string listening = machine->Capture("ss -Hltn");
  EXPECT_NE(listening.find("127.0.0.1:3060 "), std::string::npos) << "the console is this machine's alone\n"
                                                                  << listening;
  EXPECT_NE(listening.find("0.0.0.0:3061 "), std::string::npos) << "the admin port faces the network\n" << listening;
}

// The pages render in a browser; clicked there, the console's own links
// act; another site's page in the same browser gets nothing done in the
// player's name, neither on this machine nor on another screen, and
// strangers on the network cannot take the player's console from him.
TEST_F(WebConsoleSystemTest, BrowserShowsThePagesOwnLinksActAnotherSiteCannot) {
  const std::string fifth = "76561197960265728";
  const std::string attack = "http://127.0.0.1:3060/report?" + fifth;
  const std::string screen = "http://198.18.9.1:3060/";
  // Another site on this machine, by path: its pages send requests to the
  // console, frame it, or (with no referrer, as Chromium sends none to an
  // address on the network) reach for it on another screen.
  const std::map<std::string, std::string> attackPages = {
      {"/", "<html><body><img src=\"" + attack + "\"><form id=\"f\" method=\"post\" action=\"" +
                "http://127.0.0.1:3060/votekick?" + fifth + "\"></form><script>fetch('" + attack +
                "', {mode: 'no-cors'}); document.getElementById('f').submit();</script></body></html>"},
      {"/frame",
       "<html><body><iframe src=\"http://127.0.0.1:3060/\" onload=\"window.framed = true\"></iframe>"
       "</body></html>"},
      {"/screen", "<html><head><meta name=\"referrer\" content=\"no-referrer\"></head><body><img src=\"" + screen +
                      "report?" + fifth + "\"><a id=\"link\" href=\"" + screen + "votekick?" + fifth +
                      "\">x</a><script>fetch('" + screen + "report?" + fifth +
                      "', {mode: 'no-cors', credentials: 'include'});</script></body></html>"}};
  // Made and stopped inside the namespace; it listens on every address.
  auto stopInside = [&](FakeHttpServer* server) { machine->Inside([&] { delete server; }); };
  std::unique_ptr<FakeHttpServer, decltype(stopInside)> site(machine->Inside([&] {
    return new FakeHttpServer(
        [&](const std::string& request) {
          const std::string path = request.substr(4, request.find(' ', 4) - 4);
          const std::string page = attackPages.count(path) ? attackPages.at(path) : "";
          // A cookie named like the one the console once set, for every
          // port of this address.
          const std::string cookie =
              path == "/screen" ? "Set-Cookie: palisard_key=" + std::string(32, 'f') + "\r\n" : "";
          return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + cookie +
                 "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
        },
        FakeHttpServer::Mode::kAnswer, Ipv4Endpoint{0, 0});
  }),
                                                             stopInside);
  const std::string site2 = "http://127.0.0.2:" + std::to_string(site->port());
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

  // Framed by another page, the console shows nothing: no click on a frame
  // laid under another page's own can cast a vote.
  browser.Open(site2 + "/frame");
  ASSERT_TRUE(browser.WaitFor("window.framed"));
  const std::string framed = browser.Document();
  EXPECT_NE(framed.find("\"documentURL\":\"chrome-error://chromewebdata/\""), std::string::npos) << framed;
  EXPECT_EQ(framed.find("\"documentURL\":\"http://127.0.0.1:3060/\""), std::string::npos) << framed;

  browser.Navigate(site2 + "/");
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

  // Started again with ConsoleKey=1, the console serves another screen: this
  // browser, at the machine's address on the network.
  NetworkNamespace strangers;
  LinkNamespaces(*machine, "198.18.9.1", strangers, "198.18.9.2");
  palisard.reset();
  palisard = std::make_unique<PalisardProcess>(*machine, TestSettings(3061, "ConsoleKey=1\n"), pids.get());
  ASSERT_TRUE(palisard->process().WaitForOutput("Server set to: ^1Host<One>\n")) << palisard->process().Output();
  std::smatch key;
  const std::string started = palisard->process().Output();
  ASSERT_TRUE(std::regex_search(started, key, std::regex("198\\.18\\.9\\.1:3060/\\?key=([0-9a-f]{32})\n")));
  // A long name without blanks, not in ASCII, with a right-to-left mark;
  // the host's closes its isolation (U+2069) and overrides the direction
  // (U+202E).
  ASSERT_TRUE(game->Do("join 7 76561197960265999 198.18.0.7 28960 \xE2\x80\xAEJos\xC3\xA9" + std::string(165, 'W')));
  ASSERT_TRUE(game->Do("join 0 76561197960287930 198.18.0.1 28960 \xE2\x81\xA9\xE2\x80\xAEHost"));
  const std::string keyed = screen + "?key=" + key[1].str();
  browser.Open(keyed);
  EXPECT_TRUE(
      browser.WaitFor("document.body.innerText.indexOf('Jos\\u00e9WWW') >= 0 && "
                      "document.characterSet == 'UTF-8' && document.compatMode == 'CSS1Compat'"));
  EXPECT_TRUE(browser.WaitFor("document.documentElement.scrollWidth <= window.innerWidth", 1s)) << "wraps in the box";

  // Another page of that address, on another port, is sent no key, and
  // its image, its fetch and its link act on nothing; the link shows why.
  browser.Open("http://198.18.9.1:" + std::to_string(site->port()) + "/screen");
  browser.Run("document.getElementById('link').click()");
  EXPECT_TRUE(browser.WaitFor("document.body && document.body.innerText.indexOf('needs the console') >= 0"))
      << browser.Run("document.documentElement.outerHTML");
  EXPECT_EQ(palisard->process().Output().find("Reporting"), std::string::npos) << palisard->process().Output();
  EXPECT_EQ(palisard->process().Output().find("Requesting a votekick"), std::string::npos);
  for (const std::string& request : site->requests())
    EXPECT_EQ(request.find(key[1].str()), std::string::npos) << request;
  // That page's cookie disturbs nothing: the console's own page follows
  // the match and acts from there.
  browser.Open(keyed);
  browser.Run("window.notReloaded = true");
  ASSERT_TRUE(game->Do("chat ^2Fifth: cookies?"));
  EXPECT_TRUE(browser.WaitFor("document.body.innerText.indexOf('Fifth: cookies?') >= 0"));
  browser.Run("document.querySelector('a[href=\"/report?" + fifth + "\"]').click()");
  EXPECT_TRUE(palisard->process().WaitForOutput("Reporting " + fifth + "..\n"));
  EXPECT_TRUE(browser.WaitFor(beside("report", "Report failed unexpectedly")));
  // The host's name turns nothing around: the words of the host line and
  // of the result beside the name stand left to right.
  browser.Run(
      "window.inOrder = function (node, words) {"
      "  var lefts = words.map(function (word) {"
      "    for (var walk = document.createTreeWalker(node, NodeFilter.SHOW_TEXT), text; (text = walk.nextNode());) {"
      "      var at = text.nodeValue.indexOf(word), range = document.createRange();"
      "      if (at >= 0) return range.setStart(text, at), range.setEnd(text, at + word.length), "
      "range.getBoundingClientRect().left;"
      "    }"
      "  });"
      "  return lefts.every(function (left, i) { return i == 0 || lefts[i - 1] < left; });"
      "}");
  const std::string own = "document.querySelector('a[href=\"/report?76561197960287930\"]')";
  browser.Run(own + ".click()");
  EXPECT_TRUE(browser.WaitFor("inOrder(document.querySelector('#Box h4'), ['Host', 'Palisard', 'Enabled']) && " + own +
                              ".parentNode.lastChild.textContent == 'You cannot report yourself' && inOrder(" + own +
                              ".parentNode, ['report', 'profile', 'Host', 'cannot', 'yourself'])"))
      << browser.Run("document.querySelector('#Box').innerHTML");
  // Nothing of the second screen stays in the browser's cache: neither its
  // keyed page nor the refusal the other page's link got.
  browser.Run("window.cached = null; Promise.all(['" + keyed + "', '" + screen + "votekick?" + fifth +
              "'].map(function (url) { return fetch(url, {cache: 'only-if-cached', mode: 'same-origin'})"
              ".then(function () { return url + ' '; }, function () { return ''; }); }))"
              ".then(function (urls) { window.cached = urls.join(''); })");
  ASSERT_TRUE(browser.WaitFor("window.cached !== null"));
  EXPECT_NE(browser.Run("window.cached").find("\"value\":\"\""), std::string::npos) << browser.Run("window.cached");

  // Strangers hold half-sent requests, 16 from each of 4 addresses: the
  // player's own console still answers at once.
  strangers.Run("for a in 3 4 5; do ip addr add 198.18.9.$a/24 dev $(ls /sys/class/net | grep -v lo); done");
  const std::vector<Socket> flood = strangers.Inside([] {
    std::vector<Socket> held(64);
    for (uint32_t i = 0; i < held.size(); ++i) {
      if (OpenTcpSocket(&held[i]).ok() && BindAddress(held[i].get(), {0xC6120902 + i / 16, 0}).ok() &&
          ConnectTo(held[i].get(), {0xC6120901, 3060}, 2s).ok())
        (void)SendAll(held[i].get(), "GET / HTTP/1.1\r\n", 16);
    }
    return held;
  });
  std::this_thread::sleep_for(300ms);  // the console has taken them in
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(machine->Capture("curl -s -m 5 -o /dev/null -w %{http_code} http://127.0.0.1:3060/"), "200");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
}

}  // namespace
}  // namespace palisard
