#include "service/api/api_routes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "helpers/temp_dir.h"
#include "service/accounts/credentials.h"

namespace palisard {
namespace {

using ::testing::HasSubstr;
using nlohmann::json;

constexpr UnixTime kNow = 1714564800;  // 2024-05-01T12:00:00Z

// The API's routers against a real SQLite store, as bots would call them.
class ApiRoutesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenStore((dir_.path() / "service.db").string(), &store_).ok());
    for (const auto& [name, scope] : {std::pair{"mod", TokenScope::kModerate}, {"reader", TokenScope::kRead}}) {
      ASSERT_TRUE(store_->AddToken(name, scope, SessionTokenHash(name + std::string("-secret")), {"cli:root", "cli"},
                                   kNow, nullptr)
                      .ok());
    }
  }

  HttpAnswer Ask(const std::string& method, const std::string& target, const std::string& token = "",
                 const std::string& body = "", bool publicPort = false) {
    HttpRequest request;
    request.method = method;
    request.target = target;
    request.authorization = token.empty() ? "" : "Bearer " + token;
    request.body = body;
    request.client = "192.0.2.7";
    Routed routed = publicPort ? RoutePublicApi(request) : RouteModerationApi(request, limits_);
    if (auto* answer = std::get_if<HttpAnswer>(&routed)) return *answer;
    return std::get<StoreCall>(routed)(*store_, now_).answer;
  }
  static std::string Header(const HttpAnswer& answer, const std::string& name) {
    for (const auto& [key, value] : answer.headers) {
      if (key == name) return value;
    }
    return "";
  }

  TempDir dir_;
  TokenLimits limits_;
  UnixTime now_ = kNow;
  std::unique_ptr<Store> store_;
};

// Token, then its bucket, then its scope, then the request itself: each
// refusal says the first thing wrong, and changes nothing.
TEST_F(ApiRoutesTest, ChecksTheTokenThenItsScopeThenTheBody) {
  const std::string ban = R"({"playerId": "7", "reason": "aimbot", "duration": "1d"})";
  const struct {
    const char* method;
    const char* target;
    const char* token;
    std::string body;
    unsigned status;
    const char* says;
  } cases[] = {
      {"GET", "/api/v1/bans", "", "", 401, "Bearer"},
      {"POST", "/api/v1/bans", "wrong-secret", "not json", 401, "unknown"},
      {"GET", "/api/v1/cases", "Bearer", "", 401, "Bearer"},
      {"POST", "/api/v1/bans", "reader-secret", "not json", 403, "moderate token"},
      {"POST", "/api/v1/bans/7/lift", "reader-secret", ban, 403, "moderate token"},
      {"POST", "/api/v1/bans", "mod-secret", "not json", 400, "not a JSON object"},
      {"POST", "/api/v1/bans", "mod-secret", R"({"playerId": 7, "reason": "x"})", 400, "playerId must be a string"},
      {"POST", "/api/v1/bans", "mod-secret", R"({"playerId": "7", "reason": "a\nb"})", 400, "the reason"},
      {"POST", "/api/v1/bans", "mod-secret", R"({"playerId": "7", "reason": "x", "duration": "3x"})", 400, "3x"},
      {"POST", "/api/v1/bans/x7/lift", "mod-secret", R"({"reason": "x"})", 400, "not a community id"},
      {"GET", "/api/v1/bans?cursor=12", "reader-secret", "", 400, "cursor"},
      {"GET", "/api/v1/audit?limit=501", "reader-secret", "", 400, "limit"},
      {"DELETE", "/api/v1/bans", "mod-secret", "", 405, "Method not allowed"},
      {"GET", "/api/v1/nothing", "mod-secret", "", 404, "Not found"},
      {"POST", "/api/v1/bans", "mod-secret", ban, 201, "\"inForce\":true"},
      {"POST", "/api/v1/bans", "mod-secret", ban, 409, "banned"},
      {"POST", "/api/v1/cases/99/dismiss", "mod-secret", R"({"reason": "x"})", 404, "no case 99"},
  };
  for (const auto& c : cases) {
    const HttpAnswer answer = Ask(c.method, c.target, c.token, c.body);
    EXPECT_EQ(answer.status, c.status) << c.method << " " << c.target << " " << c.body;
    EXPECT_THAT(answer.body, HasSubstr(c.says)) << c.target;
    EXPECT_EQ(answer.contentType, "application/json") << c.target;
    EXPECT_EQ(Header(answer, "WWW-Authenticate"), c.status == 401 ? "Bearer" : "") << c.target;
  }
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"", 7, ""}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(audit[0].actor, "token:mod");
  EXPECT_EQ(audit[0].from, "192.0.2.7");

  // Each token has its bucket, taken from before the scope is checked.
  limits_ = {1, 60};
  EXPECT_EQ(Ask("GET", "/api/v1/cases", "reader-secret").status, 200u);
  const HttpAnswer limited = Ask("GET", "/api/v1/cases", "reader-secret");
  EXPECT_EQ(limited.status, 429u);
  EXPECT_EQ(Header(limited, "Retry-After"), "60");
  EXPECT_EQ(Ask("POST", "/api/v1/bans", "reader-secret", ban).status, 429u) << "the bucket before the scope";
}

// A bot follows the bans by change, a page at a time, from where it was.
TEST_F(ApiRoutesTest, BansArePagedByChangeAndTheAuditByAge) {
  for (uint64_t id = 1; id <= 3; ++id) ASSERT_TRUE(store_->AddBan({id, "x", std::nullopt}, {"m", "x"}, kNow, nullptr).ok());
  ASSERT_TRUE(store_->LiftBan(1, "served", {"m", "x"}, kNow + 1, nullptr).ok());
  now_ = kNow + 60;
  std::vector<std::string> seen;
  std::string next;
  for (int page = 0; page < 3; ++page) {
    const json answer = json::parse(Ask("GET", "/api/v1/bans?limit=2" + next, "reader-secret").body);
    for (const json& ban : answer["bans"]) seen.push_back(ban["playerId"].get<std::string>());
    EXPECT_EQ(answer["more"], page == 0) << page;
    next = "&cursor=" + answer["next"].get<std::string>();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"2", "3", "1"}));
  const json since = json::parse(Ask("GET", "/api/v1/bans?since=2024-05-01T12:00:01Z", "reader-secret").body);
  ASSERT_EQ(since["bans"].size(), 1u);
  EXPECT_EQ(since["bans"][0]["lift"]["reason"], "served");

  const json first = json::parse(Ask("GET", "/api/v1/audit?limit=3", "reader-secret").body);
  ASSERT_EQ(first["entries"].size(), 3u);
  EXPECT_EQ(first["entries"][0]["action"], "lift");
  const json rest = json::parse(Ask("GET", "/api/v1/audit?cursor=" + first["next"].get<std::string>(), "reader-secret").body);
  EXPECT_EQ(rest["entries"].size(), 3u) << "two bans and the two tokens' additions";
  EXPECT_EQ(rest["next"], nullptr);
}

// The public port tells anyone what the player's page tells, and lets
// other sites' scripts read it.
TEST_F(ApiRoutesTest, PublicPlayerIsReadableFromAnySite) {
  ASSERT_TRUE(store_->AddBan({7, "aimbot", kNow + 3600}, {"m", "x"}, kNow - 60, nullptr).ok());
  const HttpAnswer answer = Ask("GET", "/api/v1/players/7", "", "", true);
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(json::parse(answer.body), (json{{"playerId", "7"},
                                            {"banned", true},
                                            {"reason", "aimbot"},
                                            {"since", "2024-05-01T11:59:00Z"},
                                            {"until", "2024-05-01T13:00:00Z"}}));
  EXPECT_EQ(Header(answer, "Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(Header(answer, "Cache-Control"), "public, max-age=60");
  EXPECT_EQ(Ask("GET", "/api/v1/bans", "mod-secret", "", true).status, 404u) << "nothing else, even with a token";
  EXPECT_EQ(json::parse(Ask("GET", "/api/v1/openapi.json", "", "", true).body)["openapi"], "3.1.0");
}

}  // namespace
}  // namespace palisard
