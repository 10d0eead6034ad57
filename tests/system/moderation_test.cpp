#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "helpers/network_namespace.h"
#include "system/browser.h"
#include "system/child_process.h"
#include "system/eventually.h"
#include "system/game_sim_process.h"
#include "system/palisard_process.h"
#include "system/service_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

constexpr const char* kHost = "76561197960287930";
constexpr const char* kCheater = "76561197960265728";
constexpr const char* kCheaterName = "<img src=x onerror=alert(1)>";
constexpr const char* kPassword = "moderators own secret";
constexpr const char* kAppeal = "I never cheated </script><script>alert(1)</script>";
constexpr const char* kPages = "http://127.0.0.1:8080";

enum class Backend { kSqlite, kPostgres };

// A JavaScript string literal in single quotes.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  return quoted + "'";
}

// A hosted match whose ban service is palisard-service on port 80 of the
// same machine, its moderation pages on 8080; a moderator works them in
// headless Chromium there.
class ModerationTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
    if (GetParam() == Backend::kPostgres && std::getenv("PALISARD_TEST_POSTGRES_URL") == nullptr) {
      GTEST_SKIP() << "no PostgreSQL cluster: run under tests/with-postgres.sh";
    }
    machine = std::make_unique<NetworkNamespace>();
    pids = std::make_unique<PidNamespace>(*machine);
    game = std::make_unique<GameSim>(*pids);
    ASSERT_TRUE(game->ready());
    for (const std::string& command :
         {std::string("own ") + kHost, std::string("join 0 ") + kHost + " 198.18.0.1 28960 Host",
          std::string("join 1 ") + kCheater + " 198.18.0.5 28960 " + kCheaterName,
          std::string("server 198.18.0.1 28960")}) {
      ASSERT_TRUE(game->Do(command));
    }
    std::string database;
    if (GetParam() == Backend::kPostgres) {
      database = NewPostgresDatabase();
      ASSERT_FALSE(database.empty()) << "no database on the cluster";
    }
    service = std::make_unique<ServiceProcess>(*machine, "127.0.0.1:80", database,
                                               std::vector<std::string>{"--moderation-listen", "127.0.0.1:8080"});
    ASSERT_TRUE(service->ready()) << service->process().Output();
    for (const char* name : {"mod", "victim"}) {
      std::unique_ptr<ChildProcess> add =
          StartServiceCommand(service->database(), {"moderator", "add", name, "--insecure-test-hash"});
      add->Write(std::string(kPassword) + "\n");
      add->CloseInput();
      ASSERT_EQ(add->WaitForExit(20s), 0) << add->Output();
    }
  }

  void TearDown() override {
    palisard.reset();
    service.reset();
  }

  // A copy started now asks the service about its players at once.
  void StartPalisard() {
    palisard.reset();
    palisard = std::make_unique<PalisardProcess>(
        *machine, "[Palisard]\nCheckForUpdates=0\nBanStreaming=1\nOverrideHost=127.0.0.1\n", pids.get());
    ASSERT_TRUE(palisard->process().WaitForOutput("Server set to: Host\n")) << palisard->process().Output();
  }

  std::string Curl(const std::string& arguments) { return machine->Capture("curl -s -m 5 " + arguments); }
  // The status of a request. The arguments quote in double quotes: the
  // command runs in single quotes.
  std::string Status(const std::string& arguments) { return Curl("-o /dev/null -w %{http_code} " + arguments); }

  std::unique_ptr<NetworkNamespace> machine;
  std::unique_ptr<PidNamespace> pids;
  std::unique_ptr<GameSim> game;
  std::unique_ptr<ServiceProcess> service;
  std::unique_ptr<PalisardProcess> palisard;
};

TEST_P(ModerationTest, ReportBanAppealAndLiftThroughThePages) {
  StartPalisard();
  EXPECT_NE(Curl(std::string("http://127.0.0.1:3060/report?") + kCheater), "");
  ASSERT_TRUE(palisard->process().WaitForOutput(std::string("Reporting ") + kCheater + "..\n"));
  Browser browser(*machine);
  // The player's name is text on the hosting copy's own console.
  browser.Open("http://127.0.0.1:3060/");
  EXPECT_TRUE(browser.WaitFor("document.body.innerText.indexOf(" + Quoted(kCheaterName) +
                              ") >= 0 && document.images.length == 0"));

  browser.Open(std::string(kPages) + "/queue");
  ASSERT_TRUE(browser.WaitFor("location.pathname == '/signin'")) << "no session, no queue";
  ASSERT_TRUE(browser.Follow(
      "const f = document.forms[0]; f.name.value = 'mod'; f.password.value = " + Quoted(kPassword) + "; f.submit()"));
  ASSERT_TRUE(browser.WaitFor("location.pathname == '/queue'")) << browser.Run("document.body.innerText");
  // The host's ban request named both, but the host is the reporter's own
  // network: no evidence (the queue is written within a few seconds of the
  // request).
  const std::string seen = "[...document.querySelectorAll('tr')].some(r => r.innerText.includes('" +
                           std::string(kHost) + "') && r.innerText.includes('not by a host on another network'))";
  bool shown = false;
  for (int i = 0; i < 10 && !shown; ++i) {
    browser.Open(std::string(kPages) + "/queue");
    shown = browser.WaitFor(seen, 500ms);
  }
  EXPECT_TRUE(shown) << browser.Run("document.body.innerText");
  if (const char* path = std::getenv("PALISARD_SCREENSHOT")) {
    EXPECT_TRUE(browser.Screenshot(path, 480));
  }

  ASSERT_TRUE(browser.Follow(
      "const f = document.querySelector('form[action=\"/ban\"]'); f.reason.value = 'Wallhack <b>on demo</b>'; "
      "f.duration.value = '1d'; f.submit()"));
  EXPECT_TRUE(browser.WaitFor("location.search == '?done=ban' && !document.querySelector('form[action=\"/ban\"]')"))
      << browser.Run("document.body.innerText");

  StartPalisard();  // its next ban request
  const std::string ruleset = RulesetOnceItNames(*machine, "198.18.0.5");
  EXPECT_NE(ruleset.find("ip saddr 198.18.0.5"), std::string::npos) << ruleset;

  browser.Open(std::string("http://127.0.0.1/player/") + kCheater);
  EXPECT_TRUE(browser.WaitFor("document.body.innerText.indexOf('Reason: Wallhack <b>on demo</b>') >= 0"))
      << browser.Run("document.body.innerText");
  ASSERT_TRUE(browser.Follow("const f = document.forms[0]; f.appeal.value = " + Quoted(kAppeal) + "; f.submit()"));
  EXPECT_TRUE(browser.WaitFor("document.body.innerText.indexOf('Your appeal is received') >= 0"));

  browser.Open(std::string(kPages) + "/queue");
  EXPECT_TRUE(browser.WaitFor("document.querySelector('.appeal .quote').textContent == " + Quoted(kAppeal) +
                              " && document.scripts.length == 0"))
      << browser.Run("document.body.innerHTML");
  ASSERT_TRUE(browser.Follow(
      "const f = document.querySelector('.appeal form[action=\"/lift\"]'); f.reason.value = 'Appeal granted'; "
      "f.submit()"));
  EXPECT_TRUE(browser.WaitFor("location.search == '?done=lift' && !document.querySelector('.appeal')"));

  // Refused: a change without the form token or from another site, a
  // cookie after its sign-out, the pages on the public port, the sixth
  // wrong password in a row (and the right one after it).
  const std::string origin = std::string("-H \"Origin: ") + kPages + "\" ";
  const std::string signIn =
      Curl("-i -X POST " + origin + "--data \"name=mod&password=" + kPassword + "\" " + kPages + "/signin");
  const std::size_t at = signIn.find("palisard_session=");
  ASSERT_NE(at, std::string::npos) << signIn;
  const std::string cookie = "-H \"Cookie: " + signIn.substr(at, signIn.find(';', at) - at) + "\" ";
  const std::string queue = Curl(cookie + kPages + "/queue");
  const std::size_t token = queue.find("name=\"csrf\" value=\"");
  ASSERT_NE(token, std::string::npos) << queue;
  const std::string csrf = "csrf=" + queue.substr(token + 19, 64);
  const std::string ban = std::string("--data \"player=") + kHost + "&reason=x&duration=1d&";
  EXPECT_EQ(Status(cookie + origin + ban + "\" " + kPages + "/ban"), "403");
  EXPECT_EQ(Status(cookie + "-H \"Origin: http://127.0.0.2\" " + ban + csrf + "\" " + kPages + "/ban"), "403");
  EXPECT_EQ(Status(cookie + origin + "--data \"" + csrf + "\" " + kPages + "/signout"), "303");
  EXPECT_EQ(Curl(cookie + "-o /dev/null -w \"%{http_code} %{redirect_url}\" " + kPages + "/queue"),
            std::string("303 ") + kPages + "/signin");
  for (const char* path : {"/queue", "/signin", "/audit"}) {
    EXPECT_EQ(Status(std::string("http://127.0.0.1") + path), "404") << path;
  }
  for (const char* password : {"w1", "w2", "w3", "w4", "w5", "w6", kPassword}) {
    const std::string status =
        Status(origin + "--data \"name=victim&password=" + password + "\" " + kPages + "/signin");
    EXPECT_EQ(status, password[0] == 'w' && password[1] < '6' ? "401" : "429") << password;
  }
  EXPECT_EQ(
      Status(origin + "--data-urlencode \"name=" + kCheaterName + "\" --data \"password=x\" " + kPages + "/signin"),
      "401");

  // The audit lists each step with who and when (refused sign-ins come
  // folded, once their window has ended).
  browser.Open(std::string(kPages) + "/audit");
  const std::string rows = browser.Run(
      "[...document.querySelectorAll('tr')].map(r => [...r.cells].slice(0, 4).map(c => c.innerText).join(' '))"
      ".join('|')");
  std::size_t from = 0;
  for (const std::string step :
       {"mod 127.0.0.1 lift", "public page 127.0.0.0/24 appeal", "mod 127.0.0.1 ban", "mod 127.0.0.1 sign-in"}) {
    const std::size_t found = rows.find("Z " + step + "|", from);  // after its time, 2024-05-01T12:00:00Z
    EXPECT_NE(found, std::string::npos) << step << " in " << rows;
    from = found == std::string::npos ? from : found;
  }
  EXPECT_TRUE(browser.WaitFor("document.images.length == 0"));

  // A bot's path through the API: a moderate token bans and lifts, under
  // its own name in the audit; a read token may not ban; a removed token,
  // or a session's cookie, opens nothing.
  auto addToken = [&](const char* name, const char* scope) {
    int code = -1;
    const std::string added = ServiceCommand(service->database(), {"token", "add", name, "--scope", scope}, &code);
    EXPECT_EQ(code, 0) << added;
    return added.substr(added.rfind(' ') + 1, 64);
  };
  const std::string bot = "-H \"Authorization: Bearer " + addToken("bot", "moderate") + "\" ";
  const std::string reader = "-H \"Authorization: Bearer " + addToken("reader", "read") + "\" ";
  const std::string api = std::string(kPages) + "/api/v1/";
  const std::string banBody = std::string("--data \"{\\\"playerId\\\": \\\"") + kCheater +
                              "\\\", \\\"reason\\\": \\\"bot ban\\\", \\\"duration\\\": \\\"7d\\\"}\" ";
  EXPECT_EQ(Status(reader + banBody + api + "bans"), "403");
  EXPECT_EQ(Status(bot + banBody + api + "bans"), "201");
  EXPECT_NE(Curl(std::string("http://127.0.0.1/api/v1/players/") + kCheater).find("\"banned\":true"),
            std::string::npos);
  EXPECT_EQ(Status(bot + "--data \"{\\\"reason\\\": \\\"bot lift\\\"}\" " + api + "bans/" + kCheater + "/lift"),
            "200");
  const std::string audit = Curl(reader + api + "audit?limit=2");
  for (const char* action : {"\"action\":\"lift\",\"actor\":\"token:bot\"", "\"action\":\"ban\",\"actor\":\"token:bot\""}) {
    EXPECT_NE(audit.find(action), std::string::npos) << action << " in " << audit;
  }
  EXPECT_EQ(ServiceCommand(service->database(), {"token", "remove", "bot"}), "removed token bot; it is refused from now on\n");
  EXPECT_EQ(Status(bot + banBody + api + "bans"), "401");
  const std::string again =
      Curl("-i -X POST " + origin + "--data \"name=mod&password=" + kPassword + "\" " + kPages + "/signin");
  const std::size_t session = again.find("palisard_session=");
  ASSERT_NE(session, std::string::npos) << again;
  EXPECT_EQ(Status("-H \"Cookie: " + again.substr(session, again.find(';', session) - session) + "\" " + api + "cases"),
            "401");
}

INSTANTIATE_TEST_SUITE_P(Databases, ModerationTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return info.param == Backend::kSqlite ? "Sqlite" : "Postgres"; });

}  // namespace
}  // namespace palisard
