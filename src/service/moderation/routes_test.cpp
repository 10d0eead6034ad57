#include "service/moderation/routes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "helpers/temp_dir.h"
#include "service/accounts/credentials.h"
#include "service/http/form_fields.h"
#include "service/values/source_network.h"
#include "store/ban_json.h"

namespace palisard {
namespace {

using ::testing::HasSubstr;

constexpr UnixTime kNow = 1714564800;
constexpr char kSite[] = "http://mod.example";

HttpRequest Request(const std::string& method, const std::string& path, const std::string& body = "",
                    const std::string& origin = "", const std::string& cookie = "") {
  HttpRequest request;
  request.method = method;
  request.target = path;
  request.host = "mod.example";
  request.origin = origin;
  request.cookie = cookie;
  request.body = body;
  request.peer = request.client = request.source = request.network = "127.0.0.1";
  return request;
}

// The moderation pages' router against a real SQLite store, as one
// browser on this machine would use them.
class ModerationRoutesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.moderationHosts = {"mod.example"};
    ASSERT_TRUE(OpenStore((dir_.path() / "service.db").string(), &store_).ok());
    std::string hash;
    ASSERT_TRUE(HashPassword("right password", HashCost::kTestOnly, &hash).ok());
    ASSERT_TRUE(store_->AddModerator("mia", ModeratorRole::kModerator, hash, {"cli:root", "cli"}, kNow).ok());
  }

  HttpAnswer Ask(const HttpRequest& request) {
    Routed routed = RouteModeration(request, settings_);
    if (auto* answer = std::get_if<HttpAnswer>(&routed)) return *answer;
    if (auto* signIn = std::get_if<SignInCall>(&routed)) return signIn->call(*store_, kNow).answer;
    return std::get<StoreCall>(routed)(*store_, kNow).answer;
  }
  HttpAnswer Post(const std::string& path, const std::string& body, const std::string& cookie = "",
                  const std::string& origin = kSite) {
    return Ask(Request("POST", path, body, origin, cookie));
  }
  HttpAnswer Get(const std::string& path, const std::string& cookie) {
    return Ask(Request("GET", path, "", "", cookie));
  }
  static std::string Header(const HttpAnswer& answer, const std::string& name) {
    for (const auto& [key, value] : answer.headers) {
      if (key == name) return value;
    }
    return "";
  }
  // Signs in; the session's cookie header.
  std::string SignIn(const std::string& name = "mia") {
    const HttpAnswer answer = Post("/signin", "name=" + name + "&password=right+password");
    EXPECT_THAT(Header(answer, "Set-Cookie"), ::testing::MatchesRegex("palisard_session=[0-9a-f]{64};.*"));
    EXPECT_EQ(answer.status, 303u);
    return Header(answer, "Set-Cookie").substr(0, Header(answer, "Set-Cookie").find(';'));
  }

  TempDir dir_;
  ServeSettings settings_;
  std::unique_ptr<Store> store_;
};

TEST_F(ModerationRoutesTest, StateChangesNeedTheFormTokenAndThisSitesOrigin) {
  const std::string cookie = SignIn();
  EXPECT_EQ(Get("/queue", cookie).status, 200u);
  const std::string token = FormToken(CookieValue(cookie, "palisard_session"));
  const std::string ban = "player=7&reason=aimbot&duration=1d&back=/player/7&csrf=";
  const struct {
    std::string body;
    std::string origin;
    unsigned status;
  } cases[] = {
      {ban, kSite, 403},                                 // no token
      {ban + FormToken("another session"), kSite, 403},  // another session's
      {ban + token, "", 403},                            // no Origin
      {ban + token, "https://mod.example", 403},         // another scheme
      {ban + token, "http://evil.example", 403},
      {ban + token, "HTTP://MOD.example", 303},
  };
  for (const auto& c : cases) EXPECT_EQ(Post("/ban", c.body, cookie, c.origin).status, c.status) << c.origin;
  EXPECT_EQ(Header(Post("/ban", ban + token, cookie), "Location"), "");  // banned already: refused, not redirected
  std::vector<Ban> bans;
  ASSERT_TRUE(store_->ListBans(false, kNow, &bans).ok());
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0].until, kNow + 24 * 3600);
  EXPECT_EQ(bans[0].madeBy, "mia");
  // Moderators manage no accounts, nor API tokens.
  EXPECT_EQ(Get("/accounts", cookie).status, 403u);
  EXPECT_EQ(Post("/tokens/add", "name=bot&scope=moderate&csrf=" + token, cookie).status, 403u);
  EXPECT_EQ(Post("/accounts/remove", "name=mia&csrf=" + token, cookie).status, 403u);
  EXPECT_EQ(Post("/accounts/add", "name=eve&password=0123456789&role=admin&csrf=" + token, cookie).status, 403u);
  EXPECT_EQ(Get("/webhooks", cookie).status, 403u);
  EXPECT_EQ(Post("/webhooks/add", "url=https://203.0.113.7/&format=standard&csrf=" + token, cookie).status, 403u);
  std::vector<Moderator> accounts;
  ASSERT_TRUE(store_->Moderators(&accounts).ok());
  EXPECT_EQ(accounts.size(), 1u);
  // What is refused says so, and is not done.
  const std::string longReason = "player=8&duration=1d&csrf=" + token + "&reason=" + std::string(501, 'x');
  EXPECT_EQ(Post("/ban", longReason, cookie).status, 400u);
  // A field past the bound its input has, though it would read.
  const std::string longDuration = "player=8&reason=x&duration=custom&custom=0000000000000001d&csrf=" + token;
  EXPECT_EQ(Post("/ban", longDuration, cookie).status, 400u);
  // The form's box keeps a ban out of the shared feed.
  EXPECT_EQ(Post("/ban", "player=9&reason=x&duration=1d&private=1&csrf=" + token, cookie).status, 303u);
  ASSERT_TRUE(store_->ListBans(false, kNow, &bans).ok());
  EXPECT_TRUE(bans.at(0).playerId == 9 && bans.at(0).isPrivate);
  EXPECT_EQ(Header(Ask(Request("PUT", "/signin")), "Allow"), "GET, POST");
  EXPECT_EQ(Post("/mute", "kind=network&subject=10.0.0.1&reason=spam&csrf=" + token, cookie).status, 400u);
  std::vector<Mute> mutes;
  ASSERT_TRUE(store_->Mutes(&mutes).ok());
  EXPECT_TRUE(mutes.empty());

  // After sign-out the cookie opens nothing.
  EXPECT_EQ(Post("/signout", "csrf=" + token, cookie).status, 303u);
  const HttpAnswer after = Get("/queue", cookie);
  EXPECT_EQ(after.status, 303u);
  EXPECT_EQ(Header(after, "Location"), "/signin");
  EXPECT_EQ(Post("/lift", "player=7&reason=x&csrf=" + token, cookie).status, 303u);
  ASSERT_TRUE(store_->ListBans(false, kNow, &bans).ok());
  EXPECT_EQ(bans.size(), 2u);  // 7 and 9 banned still
}

// An admin's new token is shown on the page that answers the form, once,
// and never in an address; the store keeps its hash.
TEST_F(ModerationRoutesTest, AdminsAddTokensShownOnceAndRemoveThem) {
  std::string hash;
  ASSERT_TRUE(HashPassword("right password", HashCost::kTestOnly, &hash).ok());
  ASSERT_TRUE(store_->RemoveModerator("mia", {"cli:root", "cli"}, kNow).ok());
  ASSERT_TRUE(store_->AddModerator("mia", ModeratorRole::kAdmin, hash, {"cli:root", "cli"}, kNow).ok());
  const std::string cookie = SignIn();
  const std::string csrf = "&csrf=" + FormToken(CookieValue(cookie, "palisard_session"));
  const HttpAnswer added = Post("/tokens/add", "name=bot&scope=moderate" + csrf, cookie);
  ASSERT_EQ(added.status, 200u);
  const std::size_t at = added.body.find("<code>");
  ASSERT_NE(at, std::string::npos) << added.body;
  const std::string token = added.body.substr(at + 6, kTokenLength);
  std::optional<ApiToken> found;
  UnixTime wait = 0;
  ASSERT_TRUE(store_->FindToken(SessionTokenHash(token), {}, kNow, &found, &wait).ok());
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->scope, TokenScope::kModerate);
  EXPECT_EQ(Get("/tokens", cookie).body.find(token), std::string::npos);
  EXPECT_EQ(Post("/tokens/add", "name=bot2&scope=admin" + csrf, cookie).status, 400u);
  EXPECT_EQ(Post("/tokens/add", "name=bot&scope=read" + csrf, cookie).status, 409u);
  EXPECT_EQ(Header(Post("/tokens/remove", "name=bot&back=/tokens" + csrf, cookie), "Location"),
            "/tokens?done=token-remove");
  ASSERT_TRUE(store_->FindToken(SessionTokenHash(token), {}, kNow, &found, &wait).ok());
  EXPECT_FALSE(found.has_value());
}

// Strangers' wrong passwords lock them out, not the moderator on a network
// he signed in from; the refusals are counted, not audited one by one.
TEST_F(ModerationRoutesTest, StrangersCannotLockOutAModeratorAtHome) {
  const std::string first = SignIn();
  EXPECT_NE(SignIn(), first) << "each session its own token";
  auto signIn = [&](const std::string& password, const std::string& client) {
    HttpRequest request = Request("POST", "/signin", "name=mia&password=" + password, kSite);
    request.client = client;
    request.network = SourceNetwork(client).value_or("");
    return Ask(request);
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(signIn("wrong", "198.51.100.7").status, 401u) << i;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(signIn("wrong", "198.51.100.7").status, 429u) << i;
  const HttpAnswer stranger = signIn("right+password", "203.0.113.1");
  EXPECT_EQ(stranger.status, 429u);
  EXPECT_EQ(Header(stranger, "Set-Cookie"), "");
  EXPECT_EQ(Post("/signin", "name=mia&password=right+password").status, 303u) << "at home";
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"", 0, ""}, 100, &audit).ok());
  EXPECT_EQ(audit.size(), 4u) << "the account, and its three sign-ins";
  ASSERT_TRUE(store_->Prune(0, 0, kNow + 2 * kRefusalWindow).ok());
  ASSERT_TRUE(store_->Audit({"mia", 0, "sign-in-refused"}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[0].from, "203.0.113.0/24");
  EXPECT_EQ(audit[1].from, "198.51.100.0/24");
  EXPECT_EQ(nlohmann::json::parse(audit[1].after)["refusals"], 20);
}

// Only the names the settings give reach the pages (DNS rebinding), and a
// visit without a session costs no store call.
TEST_F(ModerationRoutesTest, HostsAndVisitsWithoutASession) {
  const struct {
    std::vector<std::string> allowed;
    const char* host;
    bool served;
  } cases[] = {
      {{"mod.example"}, "mod.example", true},
      {{"mod.example"}, "MOD.example:8443", true},
      {{"mod.example"}, "evil.example", false},
      {{"mod.example"}, "", false},
      {{"mod.example"}, "mod.example.evil", false},
      {{}, "127.0.0.1:8080", true},
      {{}, "localhost:8080", true},
      {{}, "evil.example:8080", false},
  };
  for (const auto& c : cases) {
    settings_.moderationHosts = c.allowed;
    HttpRequest request = Request("GET", "/queue");
    request.host = c.host;
    const Routed routed = RouteModeration(request, settings_);
    ASSERT_TRUE(std::holds_alternative<HttpAnswer>(routed)) << c.host << ": no session, no store";
    EXPECT_EQ(std::get<HttpAnswer>(routed).status, c.served ? 303u : 403u) << c.host;
  }
}

// The bans page lists what is in force, past bans too with "all", one
// player's with "id".
TEST_F(ModerationRoutesTest, BansPageSearchesAndListsAll) {
  const std::string cookie = SignIn();
  ASSERT_TRUE(store_->AddBan({7, "aimbot", std::nullopt}, {"mia", "x"}, kNow - 10, nullptr).ok());
  ASSERT_TRUE(store_->AddBan({8, "spam", std::nullopt}, {"mia", "x"}, kNow - 10, nullptr).ok());
  ASSERT_TRUE(store_->LiftBan(8, "served", {"mia", "x"}, kNow - 5, nullptr).ok());
  const struct {
    const char* query;
    bool seven, eight;
  } cases[] = {
      {"", true, false},
      {"?all=1", true, true},
      {"?id=8", false, false},
      {"?id=8&all=1", false, true},
  };
  for (const auto& c : cases) {
    const std::string page = Get(std::string("/bans") + c.query, cookie).body;
    EXPECT_EQ(page.find("href=\"/player/7\"") != std::string::npos, c.seven) << c.query;
    EXPECT_EQ(page.find("href=\"/player/8\"") != std::string::npos, c.eight) << c.query;
  }
  EXPECT_EQ(Get("/bans?id=8x", cookie).status, 400u) << "a search for no id is refused, not one for player 0";
}

// An admin adds webhooks (the destination rule as the settings say), sees a
// secret once and a discord URL masked, tests and removes them.
TEST_F(ModerationRoutesTest, WebhooksPageAddsShowsTheSecretOnceTestsAndRemoves) {
  std::string hash;
  ASSERT_TRUE(HashPassword("right password", HashCost::kTestOnly, &hash).ok());
  ASSERT_TRUE(store_->AddModerator("ada", ModeratorRole::kAdmin, hash, {"cli:root", "cli"}, kNow).ok());
  const std::string cookie = SignIn("ada");
  const std::string csrf = "&csrf=" + FormToken(CookieValue(cookie, "palisard_session"));
  const std::string standard = "url=http://127.0.0.1:9/hook&format=standard&ban.created=1&case.opened=1" + csrf;
  const HttpAnswer refused = Post("/webhooks/add", standard, cookie);
  EXPECT_EQ(refused.status, 400u);
  EXPECT_THAT(refused.body, HasSubstr("refused: 127.0.0.1 is a loopback address"));
  settings_.webhookAllowPrivate = true;
  const HttpAnswer added = Post("/webhooks/add", standard, cookie);
  ASSERT_EQ(added.status, 200u);
  EXPECT_THAT(added.body, HasSubstr("The webhook is added."));
  EXPECT_THAT(added.body, HasSubstr("<code>whsec_"));
  const std::string discord = "url=http://127.0.0.1:9/api/webhooks/5/tok3n&format=discord" + csrf;
  EXPECT_EQ(Post("/webhooks/add", discord, cookie).status, 200u);
  std::vector<WebhookEndpoint> endpoints;
  ASSERT_TRUE(store_->Webhooks(&endpoints).ok());
  ASSERT_EQ(endpoints.size(), 2u);
  EXPECT_EQ(endpoints[0].events, (std::vector<std::string>{"ban.created", "case.opened"}));
  EXPECT_EQ(endpoints[0].createdBy, "ada");
  EXPECT_TRUE(endpoints[1].events.empty());

  const HttpAnswer test = Post("/webhooks/test", "webhook=1&back=/webhooks" + csrf, cookie);
  EXPECT_EQ(Header(test, "Location"), "/webhooks?done=webhook-test");
  const std::string page = Get("/webhooks?done=webhook-test", cookie).body;
  EXPECT_EQ(page.find("whsec_"), std::string::npos) << "shown once";
  EXPECT_EQ(page.find("tok3n"), std::string::npos) << "a discord URL is its secret";
  EXPECT_THAT(page, HasSubstr("http://127.0.0.1:9/api/webhooks/5/…"));
  EXPECT_THAT(page, HasSubstr("A webhook.test event is on its way."));
  EXPECT_THAT(page, HasSubstr("<td>webhook.test <code>msg_"));
  EXPECT_EQ(Post("/webhooks/remove", "webhook=1&back=/webhooks" + csrf, cookie).status, 303u);
  EXPECT_EQ(Post("/webhooks/remove", "webhook=1&back=/webhooks" + csrf, cookie).status, 404u);
}

// The cookie is Secure only when a proxy on this machine says the request
// came through TLS; and the Origin then has the https scheme.
TEST_F(ModerationRoutesTest, SessionCookieIsHttpOnlyStrictAndSecureBehindTls) {
  const struct {
    const char* peer;
    const char* proto;
    const char* origin;
    bool secure;
  } cases[] = {
      {"127.0.0.1", "", "http://mod.example", false},
      {"127.0.0.1", "https", "https://mod.example", true},
      {"::1", "https", "https://mod.example", true},
      {"198.51.100.1", "https", "http://mod.example", false},
  };
  for (const auto& c : cases) {
    HttpRequest request = Request("POST", "/signin", "name=mia&password=right+password", c.origin);
    request.forwardedProto = c.proto;
    request.peer = request.network = c.peer;
    const std::string cookie = Header(Ask(request), "Set-Cookie");
    EXPECT_THAT(cookie, HasSubstr("; Path=/; Max-Age=28800; HttpOnly; SameSite=Strict")) << c.peer;
    EXPECT_EQ(cookie.find("; Secure") != std::string::npos, c.secure) << c.peer << " " << c.proto;
  }
}

}  // namespace
}  // namespace palisard
