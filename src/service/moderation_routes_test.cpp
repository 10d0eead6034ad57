#include "service/moderation_routes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "helpers/temp_dir.h"
#include "service/contract.h"
#include "service/credentials.h"
#include "service/form_fields.h"

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
    ASSERT_TRUE(OpenStore((dir_.path() / "service.db").string(), &store_).ok());
    std::string hash;
    ASSERT_TRUE(HashPassword("right password", HashCost::kTestOnly, &hash).ok());
    ASSERT_TRUE(store_->AddModerator("mia", ModeratorRole::kModerator, hash, {"cli:root", "cli"}, kNow).ok());
  }

  HttpAnswer Ask(const HttpRequest& request) {
    Routed routed = RouteModeration(request, settings_);
    if (auto* answer = std::get_if<HttpAnswer>(&routed)) return *answer;
    Result stored;
    return std::get<StoreCall>(routed)(*store_, kNow, &stored);
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
  std::string SignIn() {
    const HttpAnswer answer = Post("/signin", "name=mia&password=right+password");
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
  // Moderators manage no accounts.
  EXPECT_EQ(Get("/accounts", cookie).status, 403u);
  EXPECT_EQ(Post("/accounts/remove", "name=mia&csrf=" + token, cookie).status, 403u);

  // After sign-out the cookie opens nothing.
  EXPECT_EQ(Post("/signout", "csrf=" + token, cookie).status, 303u);
  const HttpAnswer after = Get("/queue", cookie);
  EXPECT_EQ(after.status, 303u);
  EXPECT_EQ(Header(after, "Location"), "/signin");
  EXPECT_EQ(Post("/lift", "player=7&reason=x&csrf=" + token, cookie).status, 303u);
  ASSERT_TRUE(store_->ListBans(false, kNow, &bans).ok());
  EXPECT_EQ(bans.size(), 1u);
}

TEST_F(ModerationRoutesTest, SixthWrongPasswordLocksEvenTheRightOne) {
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Post("/signin", "name=mia&password=wrong").status, 401u) << i;
  EXPECT_EQ(Post("/signin", "name=mia&password=wrong").status, 429u);
  const HttpAnswer right = Post("/signin", "name=mia&password=right+password");
  EXPECT_EQ(right.status, 429u);
  EXPECT_EQ(Header(right, "Set-Cookie"), "");
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"mia", 0, "sign-in-refused"}, 10, &audit).ok());
  EXPECT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[0].from, "127.0.0.1");
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

TEST_F(ModerationRoutesTest, ModerationPagesAreNotOnThePublicPort) {
  SightingLog sightings;
  for (const char* path : {"/queue", "/signin", "/audit", "/accounts", "/bans"}) {
    Routed routed = Route(Request("GET", path), settings_, sightings);
    ASSERT_TRUE(std::holds_alternative<HttpAnswer>(routed)) << path;
    EXPECT_EQ(std::get<HttpAnswer>(routed).status, 404u) << path;
  }
}

}  // namespace
}  // namespace palisard
