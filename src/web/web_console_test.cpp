#include "web/web_console.h"

#include <gtest/gtest.h>

#include <thread>

#include "helpers/http_client.h"
#include "helpers/recording_console.h"
#include "helpers/sanitizers.h"
#include "web/pages.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// A web console on a loopback port with its accept loop on a thread; the
// loop is stopped and every connection finished when the test ends.
class WebConsoleTest : public ::testing::Test {
 protected:
  void Start(WebConsole::Limits limits = {}) {
    console = std::make_unique<WebConsole>(
        state, [](const std::string& path) { return "report " + path; },
        [](const std::string& path) { return "kick " + path; }, limits,
        WebConsole::SecondScreen{kKey, {kScreenAddress}});
    console->ServeBlocks([] { return std::vector<BlockRow>{}; },
                         [](const std::string& path) { return "unblock " + path; });
    RecordingConsole quiet;
    ASSERT_TRUE(server.Initialize(0, quiet).ok());
    port = LocalPort(server.socket()).value_or(0);
    loop = std::thread([this] { EXPECT_TRUE(console->HttpAcceptLoop(server).ok()); });
  }

  void TearDown() override {
    if (!console) return;
    console->RequestStop();
    ConnectToLoopback(port);  // wakes the accept
    loop.join();
    for (int i = 0; i < 500 && console->slots().inUse() > 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(console->slots().inUse(), 0u);
  }

  // The console's answer to `request` on a connection it takes as coming
  // from `peer` (host order).
  std::string ExchangeFrom(uint32_t peer, const std::string& request) {
    Listener side;
    RecordingConsole quiet;
    EXPECT_TRUE(side.Initialize(0, quiet, Listener::Reach::kLoopbackOnly).ok());
    Socket client = ConnectToLoopback(LocalPort(side.socket()).value_or(0));
    Socket accepted;
    EXPECT_TRUE(AcceptConnection(side.socket(), &accepted, nullptr).ok());
    std::thread served([&] { console->HandleHttpClient(std::move(accepted), peer); });
    EXPECT_TRUE(SendAll(client.get(), request.data(), request.size()).ok());
    std::string answer = ReadUntilClosed(client.get());
    served.join();
    return answer;
  }

  static constexpr const char* kKey = "0123456789abcdef0123456789abcdef";
  static constexpr uint32_t kScreenAddress = 0xC0A80114;  // 192.168.1.20

  // Every answer's last fixed headers: no frame may show it, no browser
  // keeps it, and no cookie is set.
  static std::string Guarded() {
    return "X-Frame-Options: DENY\r\nReferrer-Policy: same-origin\r\nCache-Control: no-store\r\n"
           "X-Content-Type-Options: nosniff\r\nContent-Security-Policy: " +
           std::string(kContentSecurityPolicy) + "\r\nAccept-Ranges: bytes\r\n";
  }

  static std::string Answer(const std::string& page, const std::string& status = "200 OK") {
    return "HTTP/1.1 " + status + "\r\nServer: palisard\r\nContent-Type: text/html; charset=utf-8\r\n" + Guarded() +
           "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
  }

  MatchState state;
  Listener server;
  uint16_t port = 0;
  std::unique_ptr<WebConsole> console;
  std::thread loop;
};

TEST_F(WebConsoleTest, GetHeadAndPostToAnyPathGetTheMainPage) {
  Start();
  state.EditForTest([&](MatchData& d) {
    d.clients[0].SetName("Alpha");
    d.clients[0].SetCommunityId(42);
  });
  const std::string expected = Answer(BuildMainPage(state));
  EXPECT_EQ(HttpExchange(port, "GET / HTTP/1.1\r\n\r\n"), expected);
  EXPECT_EQ(HttpExchange(port, "HEAD /index.html HTTP/1.1\r\n\r\n"), expected);
  EXPECT_EQ(HttpExchange(port, "POST /report HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), expected);
  // The page's script asks for an action's message alone; a refusal too.
  const std::string text = "\r\nServer: palisard\r\nContent-Type: text/plain; charset=utf-8\r\n" + Guarded();
  const std::string own = "\r\nHost: 127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(HttpExchange(port, "GET /report?5 HTTP/1.1" + own + "\r\nAccept: Text/Plain\r\n\r\n"),
            "HTTP/1.1 200 OK" + text + "Content-Length: 16\r\n\r\nreport /report?5");
  EXPECT_EQ(HttpExchange(port, "GET /votekick?5 HTTP/1.1\r\nHost: evil.example\r\nAccept: text/plain\r\n\r\n"),
            "HTTP/1.1 403 Forbidden" + text +
                "Content-Length: 83\r\n\r\nRefused: this console answers only its own address and acts only for its "
                "own pages.");
  const std::string json = BuildMatchJson(state, {});
  EXPECT_EQ(HttpExchange(port, "GET /match.json?t=1 HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nServer: palisard\r\nContent-Type: application/json\r\n" + Guarded() +
                "Content-Length: " + std::to_string(json.size()) + "\r\n\r\n" + json);
}

// Every route answers only requests naming the console's own address, or
// none; the actions run only for the console's own pages, or for no page,
// and on another screen only for the console's own script.
TEST_F(WebConsoleTest, PagesOnlyForTheOwnHostActionsOnlyForTheOwnPages) {
  Start();
  const std::string own = "127.0.0.1:" + std::to_string(port);
  const std::string screen = "192.168.1.20:" + std::to_string(port);
  const std::string key = kKey;
  const uint32_t loopback = 0x7F000001;
  const std::string script = "X-Palisard-Page: 1\r\n";  // the console's script sends it with its actions
  const std::string foreign = "Refused: this console answers only its own address and acts only for its own pages.";
  const std::string oldKey =
      "Refused: the console's key has changed (Palisard was started again). Open the new address printed on the "
      "player's console.";
  const std::string twoHosts = "Refused: this request names more than one host.";
  struct Case {
    std::string headers;
    bool acts;
    bool seen = true;
    uint32_t peer = 0x7F000001;
    std::string queryKey = "";  // "key=" in the query
    std::string why = "";       // the refusal; empty: `foreign`
    std::string absolute = "";  // the target's scheme and authority, in absolute form
    std::string status = "403 Forbidden";
  };
  const Case cases[] = {
      {"Host: " + own + "\r\n", true},  // curl, a typed address
      {"Host: LOCALHOST:" + std::to_string(port) +
           "\r\nSec-Fetch-Site: same-origin\r\nReferer: http://localhost:" + std::to_string(port) + "/\r\n",
       true},  // the console's own link
      {"Host: [::1]:" + std::to_string(port) + "\r\nSec-Fetch-Site: none\r\nOrigin: http://" + own + "\r\n", true},
      {"", false},                                                                      // no host named: HTTP/1.0
      {"Host: evil.example:" + std::to_string(port) + "\r\n", false, false},            // DNS rebinding
      {"Host: 127.0.0.1.evil.example:" + std::to_string(port) + "\r\n", false, false},  // its name begins alike
      {"Host: 127.0.0.1:1\r\n", false, false},                                          // another port
      {"Host: 127.0.0.1\r\n", false, false},                                            // port 80
      {"Host: " + own + "\r\nOrigin: http://evil.example\r\n", false},
      {"Host: " + own + "\r\nOrigin: null\r\n", false},
      {"Host: " + own + "\r\nSec-Fetch-Site: cross-site\r\n", false},
      {"Host: " + own + "\r\nSec-Fetch-Site: same-site\r\n", false},  // another port of this machine
      {"Host: " + own + "\r\nReferer: http://evil.example/" + own + "\r\n", false},
      {"Host: " + own + "\r\nReferer: http://" + own + ".evil.example/\r\n", false},
      {"Host: " + own + "\r\nReferer: https://" + own + "/\r\n", false},
      // One host per request, whoever reads it: a second Host, or an
      // absolute target naming another, acts on nothing.
      {"Host: " + own + "\r\nHost: evil.example:" + std::to_string(port) + "\r\n", false, false, loopback, "", twoHosts,
       "", "400 Bad Request"},
      {"Host: " + own + "\r\n", false, false, loopback, "", twoHosts, "http://evil.example:1", "400 Bad Request"},
      {"Host: " + own + "\r\n", true, true, loopback, "", "", "HTTP://" + own},
      // Another machine: with the key in the page's address, then in the
      // header the console's script sends; it acts only for that script.
      // No cookie counts: the browser sends them to every port of the
      // address, and lets a page on any port set them.
      {"Host: " + screen + "\r\n" + script, true, true, kScreenAddress, key},
      {"Host: " + screen + "\r\nX-Palisard-Key: " + key + "\r\nOrigin: http://" + screen + "\r\n" + script, true, true,
       kScreenAddress},
      {"Host: " + screen + "\r\nX-Palisard-Key: " + key + "\r\n", false, true, kScreenAddress, "",
       "Refused: on another screen the console acts only from its own page, with scripts on. Go back to the console "
       "and use the link there."},
      {"Host: " + screen + "\r\nCookie: palisard_key=" + key + "\r\n" + script, false, false, kScreenAddress, "",
       "Refused: another screen needs the console's address with its key, printed on the player's console."},
      {"Host: " + screen + "\r\nX-Palisard-Key: " + std::string(32, 'f') + "\r\nCookie: palisard_key=" + key + "\r\n",
       false, false, kScreenAddress, "", oldKey},
      {"Host: " + screen + "\r\n", false, false, kScreenAddress, key + "0", oldKey},
      {"Host: " + screen + "\r\n", false, false, kScreenAddress, key.substr(0, 31), oldKey},
      {"Host: " + screen + "\r\nX-Palisard-Key: \r\n", false, false, kScreenAddress, "", oldKey},  // an empty key
      {"Host: evil.example:" + std::to_string(port) + "\r\n", false, false, kScreenAddress, key},
      {"Host: " + screen + "\r\nX-Palisard-Key: " + key + "\r\nOrigin: http://evil.example\r\n" + script, false, true,
       kScreenAddress},
      {"Host: " + screen + "\r\n", false, false},                // that name needs the key here too
      {"Host: " + own + "\r\n", true, true, loopback, "wrong"},  // this machine needs none
  };
  for (const Case& c : cases) {
    const std::string refused = Answer(BuildRefusalPage(c.why.empty() ? foreign : c.why), c.status);
    auto get = [&](const std::string& target, const char* separator) {
      const std::string request = "GET " + c.absolute + target +
                                  (c.queryKey.empty() ? "" : separator + ("key=" + c.queryKey)) + " HTTP/1.1\r\n" +
                                  c.headers + "\r\n";
      return c.peer == loopback ? HttpExchange(port, request) : ExchangeFrom(c.peer, request);
    };
    EXPECT_EQ(get("/report?76561197960265728&x", "&"),
              c.acts ? Answer(BuildResultPage("report /report?76561197960265728&x")) : refused)
        << c.headers;
    EXPECT_EQ(get("/votekick?5", "&"), c.acts ? Answer(BuildResultPage("kick /votekick?5")) : refused) << c.headers;
    EXPECT_EQ(get("/unblock?5", "&"), c.acts ? Answer(BuildResultPage("unblock /unblock?5")) : refused) << c.headers;
    EXPECT_EQ(get("/any", "?"), c.seen ? Answer(BuildMainPage(state)) : refused) << c.headers;
    EXPECT_EQ(get("/favicon.ico", "?"), c.seen ? "" : refused) << c.headers;
  }
}

TEST_F(WebConsoleTest, IconAndBadRequestsGetNoBytes) {
  Start();
  EXPECT_EQ(HttpExchange(port, "GET /favicon.ico HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(HttpExchange(port, "GET /favicon.ico?v=2 HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(HttpExchange(port, "GET / HTTP/1.1\r\nHost:x\r\n\r\n"), "");
  EXPECT_EQ(HttpExchange(port, "GET / HTTP/1.1\rX"), "");
}

TEST_F(WebConsoleTest, RequestSplitOverManyWritesIsAnswered) {
  Start();
  Socket client = ConnectToLoopback(port);
  const std::string request = "GET /?a=b HTTP/1.1\r\nAccept: */*\r\n\r\n";
  for (char c : request) {
    ASSERT_TRUE(SendAll(client.get(), &c, 1).ok());
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(ReadUntilClosed(client.get()), Answer(BuildMainPage(state)));
}

TEST_F(WebConsoleTest, ClientLeavingMidRequestDoesNotDisturbTheServer) {
  Start();
  {
    Socket client = ConnectToLoopback(port);
    (void)SendAll(client.get(), "GET / HT", 8);
  }
  EXPECT_EQ(HttpExchange(port, "GET / HTTP/1.1\r\n\r\n"), Answer(BuildMainPage(state)));
}

TEST_F(WebConsoleTest, OversizedAndSilentRequestsAreClosedWithoutAnswer) {
  WebConsole::Limits limits;
  limits.requestTimeout = 300ms;
  Start(limits);
  std::string huge = "GET /" + std::string(70 * 1024, 'a');
  Socket big = ConnectToLoopback(port);
  (void)SendAll(big.get(), huge.data(), huge.size());
  EXPECT_EQ(ReadUntilClosed(big.get()), "");

  Socket silent = ConnectToLoopback(port);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadUntilClosed(silent.get(), 5000), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "closed by the request time-out";
}

TEST_F(WebConsoleTest, ConnectionsBeyondTheCapAreClosedAtOnce) {
  WebConsole::Limits limits;
  limits.maxConnections = 4;
  limits.maxLocalConnections = 3;
  Start(limits);
  // This machine keeps its share; the other screens' pool is what is left.
  EXPECT_EQ(console->slots().capacity(), 3u);
  EXPECT_EQ(console->otherScreensSlots().capacity(), 1u);
  std::vector<Socket> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(ConnectToLoopback(port));
  for (int i = 0; i < 200 && console->slots().inUse() < 3; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(console->slots().inUse(), 3u);
  Socket extra = ConnectToLoopback(port);
  EXPECT_TRUE(SendAll(extra.get(), "GET / HTTP/1.1\r\n\r\n", 18).ok());
  EXPECT_EQ(ReadUntilClosed(extra.get(), 3000), "");
  idle.clear();  // the held connections end; the server serves again
  for (int i = 0; i < 200 && console->slots().inUse() > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(HttpExchange(port, "GET / HTTP/1.1\r\n\r\n"), Answer(BuildMainPage(state)));
}

}  // namespace
}  // namespace palisard

namespace palisard {
namespace {

TEST_F(WebConsoleTest, RealRequestIsAnsweredWhileAThousandConnectionsIdle) {
  Start();
  std::vector<Socket> idle;
  for (int i = 0; i < 1000; ++i) {
    idle.push_back(ConnectToLoopback(port, 0x7F000002));
    ASSERT_TRUE(idle.back().valid()) << i;
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpExchange(port, "GET / HTTP/1.1\r\n\r\n"), Answer(BuildMainPage(state)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, kResponsiveLimit);
}

}  // namespace
}  // namespace palisard
