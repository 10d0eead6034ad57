#include "service/api/api_routes.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

#include "common/utc_time.h"
#include "service/accounts/credentials.h"
#include "service/api/api_json.h"
#include "service/api/openapi_document.h"
#include "service/http/error_answers.h"
#include "service/http/form_fields.h"
#include "service/http/page_answers.h"
#include "service/values/record_values.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

using nlohmann::json;

// A listing of bans by change ends this long before now: a change made in
// a transaction that commits later than a page was read still comes after
// that page's cursor, so a bot following the changes misses none.
constexpr UnixTime kSettled = 5;
constexpr std::size_t kDefaultPage = 100;
constexpr std::size_t kLongestPage = 500;
// What the public port may let browsers and proxies keep.
constexpr const char* kPublicCaching = "public, max-age=60";

// One request as a handler sees it: who asks, the path's id and the query.
struct ApiCall {
  Actor actor;
  std::string id;  // the path's {id}, when it has one
  FormFields query;
  std::string body;
};

using Handler = StoreReply (*)(Store& store, const ApiCall& call, UnixTime now);

struct Endpoint {
  std::string_view method;
  std::string_view path;  // under kApiPrefix; "*" stands for the id
  TokenScope needs;
  Handler handler;
};

StoreReply Answered(unsigned status, const json& body) { return {JsonAnswer(status, body), Result::Ok()}; }

StoreReply Refused(Refusal refusal, const std::string& detail = "") {
  return {ErrorAnswer(refusal, Medium::kJson, detail), Result::Ok()};
}

// A refusal of the request, or a failure of the store, which the worker
// is told of too.
StoreReply Failed(const Result& result) {
  switch (result.kind()) {
    case Result::Kind::kInvalid:
      return Refused(Refusal::kBadRequest, result.text());
    case Result::Kind::kConflict:
      return Refused(Refusal::kConflict, result.text());
    case Result::Kind::kNotFound:
      return Refused(Refusal::kNotFound, result.text());
    default:
      return {ErrorAnswer(Refusal::kCannotAnswerNow, Medium::kJson), result};
  }
}

// A whole number from `smallest` to `largest`, or nothing.
std::optional<int64_t> Number(std::string_view text, int64_t largest = INT64_MAX, int64_t smallest = 1) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < smallest || value > largest) {
    return std::nullopt;
  }
  return value;
}

Result PageSize(const ApiCall& call, std::size_t* size) {
  const std::string given = Field(call.query, "limit");
  const std::optional<int64_t> number = Number(given, kLongestPage);
  *size = given.empty() ? kDefaultPage : static_cast<std::size_t>(number.value_or(0));
  return given.empty() || number ? Result::Ok()
                                 : Result::Invalid("limit is a number from 1 to " + std::to_string(kLongestPage));
}

// The body's object; kInvalid for anything else.
Result BodyObject(const ApiCall& call, json* body) {
  *body = json::parse(call.body, nullptr, false);
  return body->is_object() ? Result::Ok() : Result::Invalid("the body is not a JSON object");
}

// A text field of the body: `fallback` when it is missing, kInvalid when it
// is not a string.
Result TextOf(const json& body, const char* name, std::string* text, std::optional<std::string> fallback = {}) {
  const auto found = body.find(name);
  if (found == body.end() && fallback) {
    *text = *fallback;
    return Result::Ok();
  }
  if (found == body.end() || !found->is_string()) return Result::Invalid(std::string(name) + " must be a string");
  *text = found->get<std::string>();
  return Result::Ok();
}

// The reason of a change, by the pages' own limit.
Result ReasonOf(const json& body, std::string* reason) {
  Result result = TextOf(body, "reason", reason);
  return result.ok() ? CheckText(TextField::kReason, *reason) : result;
}

// A body that gives only a reason: {"reason": "..."}.
Result BodyReason(const ApiCall& call, std::string* reason) {
  json body;
  Result result = BodyObject(call, &body);
  return result.ok() ? ReasonOf(body, reason) : result;
}

StoreReply GetPlayer(Store& store, const ApiCall& call, UnixTime now) {
  uint64_t playerId = 0;
  Result result = ParseCommunityId(call.id, &playerId);
  PlayerFile file;
  if (result.ok()) result = store.Player(playerId, &file);
  return result.ok() ? Answered(200, PlayerJson(playerId, file, now)) : Failed(result);
}

// A cursor of the bans by change: "TIME-ID", which only this service reads.
Result ReadBanCursor(const ApiCall& call, BanCursor* cursor) {
  const std::string given = Field(call.query, "cursor");
  const std::string since = Field(call.query, "since");
  if (!given.empty()) {
    const std::size_t dash = given.find('-');
    const std::optional<int64_t> at = Number(std::string_view(given).substr(0, dash), INT64_MAX, 0);
    const std::optional<int64_t> id =
        dash == std::string::npos ? std::nullopt : Number(std::string_view(given).substr(dash + 1), INT64_MAX, 0);
    if (!at || !id) return Result::Invalid("cursor is not one this service gave");
    *cursor = {*at, *id};
    return Result::Ok();
  }
  *cursor = {0, 0};
  return since.empty() ? Result::Ok() : ParseUtcTime(since, &cursor->changedAt);
}

StoreReply ListBans(Store& store, const ApiCall& call, UnixTime now) {
  BanCursor cursor;
  std::size_t size = 0;
  Result result = ReadBanCursor(call, &cursor);
  if (result.ok()) result = PageSize(call, &size);
  std::vector<Ban> bans;
  if (result.ok()) result = store.BansChanged(cursor, now - kSettled, size, &bans);
  if (!result.ok()) return Failed(result);
  json list = json::array();
  for (const Ban& ban : bans) {
    list.push_back(BanJson(ban, now));
    cursor = {ban.lift ? ban.lift->at : ban.madeAt, ban.id};
  }
  return Answered(200, {{"bans", std::move(list)},
                        {"next", std::to_string(cursor.changedAt) + "-" + std::to_string(cursor.id)},
                        {"more", bans.size() == size}});
}

StoreReply ListCases(Store& store, const ApiCall&, UnixTime) {
  std::vector<Case> cases;
  Result result = store.OpenCases(&cases);
  if (!result.ok()) return Failed(result);
  json list = json::array();
  for (const Case& c : cases) list.push_back(CaseJson(c));
  return Answered(200, {{"cases", std::move(list)}});
}

StoreReply ListAudit(Store& store, const ApiCall& call, UnixTime) {
  AuditFilter filter;
  std::size_t size = 0;
  Result result = PageSize(call, &size);
  const std::string cursor = Field(call.query, "cursor");
  if (result.ok() && !cursor.empty()) {
    const std::optional<int64_t> id = Number(cursor);
    result = id ? Result::Ok() : Result::Invalid("cursor is not one this service gave");
    filter.beforeId = id.value_or(0);
  }
  std::vector<AuditEntry> entries;
  if (result.ok()) result = store.Audit(filter, size, &entries);
  if (!result.ok()) return Failed(result);
  json list = json::array();
  for (const AuditEntry& entry : entries) list.push_back(AuditJson(entry));
  const bool more = entries.size() == size;
  return Answered(200, {{"entries", std::move(list)},
                        {"next", more ? json(std::to_string(entries.back().id)) : json(nullptr)}});
}

StoreReply PostBan(Store& store, const ApiCall& call, UnixTime now) {
  json body;
  std::string player;
  std::string duration;
  NewBan ban;
  std::optional<int64_t> length;
  Result result = BodyObject(call, &body);
  if (result.ok()) result = TextOf(body, "playerId", &player);
  if (result.ok()) result = ParseCommunityId(player, &ban.playerId);
  if (result.ok()) result = ReasonOf(body, &ban.reason);
  if (result.ok()) result = TextOf(body, "duration", &duration, "permanent");
  if (result.ok()) result = ParseBanDuration(duration, &length);
  if (length) ban.until = now + *length;
  Ban made;
  if (result.ok()) result = store.AddBan(ban, call.actor, now, &made);
  return result.ok() ? Answered(201, BanJson(made, now)) : Failed(result);
}

StoreReply PostLift(Store& store, const ApiCall& call, UnixTime now) {
  uint64_t playerId = 0;
  std::string reason;
  Result result = ParseCommunityId(call.id, &playerId);
  if (result.ok()) result = BodyReason(call, &reason);
  Ban lifted;
  if (result.ok()) result = store.LiftBan(playerId, reason, call.actor, now, &lifted);
  return result.ok() ? Answered(200, BanJson(lifted, now)) : Failed(result);
}

StoreReply PostDismiss(Store& store, const ApiCall& call, UnixTime now) {
  int64_t caseId = 0;
  std::string reason;
  Result result = ParseCaseId(call.id, &caseId);
  if (result.ok()) result = BodyReason(call, &reason);
  if (result.ok()) result = store.DismissCase(caseId, reason, call.actor, now);
  return result.ok() ? StoreReply{{204, "", "", {{"Cache-Control", "no-store"}}}, Result::Ok()} : Failed(result);
}

constexpr Endpoint kEndpoints[] = {
    {"GET", "players/*", TokenScope::kRead, GetPlayer},
    {"GET", "bans", TokenScope::kRead, ListBans},
    {"POST", "bans", TokenScope::kModerate, PostBan},
    {"POST", "bans/*/lift", TokenScope::kModerate, PostLift},
    {"GET", "cases", TokenScope::kRead, ListCases},
    {"POST", "cases/*/dismiss", TokenScope::kModerate, PostDismiss},
    {"GET", "audit", TokenScope::kRead, ListAudit},
};

// Whether `path` (under the prefix) is `pattern`'s, with the id its "*"
// stands for (one segment, not empty).
bool PathFits(std::string_view pattern, std::string_view path, std::string* id) {
  const std::size_t star = pattern.find('*');
  if (star == std::string_view::npos) return path == pattern;
  const std::string_view before = pattern.substr(0, star);
  const std::string_view after = pattern.substr(star + 1);
  if (path.size() <= before.size() + after.size() || path.substr(0, before.size()) != before ||
      path.substr(path.size() - after.size()) != after) {
    return false;
  }
  const std::string_view segment = path.substr(before.size(), path.size() - before.size() - after.size());
  if (segment.find('/') != std::string_view::npos) return false;
  *id = std::string(segment);
  return true;
}

// The endpoint of the request, or the answer for a path or method it has
// none for.
std::variant<const Endpoint*, HttpAnswer> Match(const HttpRequest& request, std::string* id) {
  const std::string path = PathOf(request.target).substr(std::string_view(kApiPrefix).size());
  std::string allowed;
  const Endpoint* found = nullptr;
  for (const Endpoint& endpoint : kEndpoints) {
    std::string fits;
    if (!PathFits(endpoint.path, path, &fits)) continue;
    if (endpoint.method == request.method) {
      found = &endpoint;
      *id = fits;
    }
    allowed += (allowed.empty() ? "" : ", ") + std::string(endpoint.method);
  }
  if (found) return found;
  return allowed.empty() ? ErrorAnswer(Refusal::kNotFound, Medium::kJson) : NotAllowed(Medium::kJson, allowed);
}

// The token of an "Authorization: Bearer TOKEN" header; empty for none.
std::string BearerToken(const std::string& header) {
  constexpr std::string_view kScheme = "bearer ";
  if (header.size() <= kScheme.size()) return "";
  std::string scheme = header.substr(0, kScheme.size());
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
  if (scheme != kScheme) return "";
  const std::size_t start = header.find_first_not_of(' ', kScheme.size());
  const std::size_t end = header.find_last_not_of(' ');
  return start == std::string::npos ? "" : header.substr(start, end - start + 1);
}

// The description, on either port, to anyone.
std::optional<HttpAnswer> Description(const HttpRequest& request) {
  if (PathOf(request.target) != std::string(kApiPrefix) + "openapi.json") return std::nullopt;
  if (request.method != "GET") return NotAllowed(Medium::kJson, "GET");
  HttpAnswer answer{200, "application/json", PALISARD_OPENAPI_DOCUMENT, {{"X-Content-Type-Options", "nosniff"}}};
  answer.headers.emplace_back("Access-Control-Allow-Origin", "*");
  answer.headers.emplace_back("Cache-Control", kPublicCaching);
  return answer;
}

StoreReply WithToken(Store& store, const std::string& token, const TokenLimits& limits, const Endpoint& endpoint,
                     ApiCall call, UnixTime now) {
  std::optional<ApiToken> found;
  UnixTime wait = 0;
  const Result result = store.FindToken(SessionTokenHash(token), limits, now, &found, &wait);
  if (!result.ok()) return Failed(result);
  if (!found) return Refused(Refusal::kUnauthorized, "the token is unknown or was removed");
  if (wait > 0) {
    StoreReply limited = Refused(Refusal::kTooMany);
    limited.answer.headers.emplace_back("Retry-After", std::to_string(wait));
    return limited;
  }
  if (endpoint.needs == TokenScope::kModerate && found->scope != TokenScope::kModerate) {
    return Refused(Refusal::kForbidden, "this token's scope is " + std::string(WordOf(found->scope)) +
                                            "; changes need a moderate token");
  }
  call.actor.name = "token:" + found->name;
  return endpoint.handler(store, call, now);
}

}  // namespace

bool IsApiPath(const std::string& path) { return path.rfind(kApiPrefix, 0) == 0; }

Routed RoutePublicApi(const HttpRequest& request) {
  if (std::optional<HttpAnswer> description = Description(request)) return *description;
  std::string id;
  const bool player = PathFits("players/*", PathOf(request.target).substr(std::string_view(kApiPrefix).size()), &id);
  if (!player) return ErrorAnswer(Refusal::kNotFound, Medium::kJson);
  if (request.method != "GET") return NotAllowed(Medium::kJson, "GET");
  uint64_t playerId = 0;
  const Result parsed = ParseCommunityId(id, &playerId);
  if (!parsed.ok()) return ErrorAnswer(Refusal::kBadRequest, Medium::kJson, parsed.text());
  return StoreCall([playerId](Store& store, UnixTime now) {
    PlayerFile file;
    const Result found = store.Player(playerId, &file);
    if (!found.ok()) return Failed(found);
    StoreReply reply = Answered(200, PublicPlayerJson(playerId, BanInForce(file.bans, now)));
    for (auto& [name, value] : reply.answer.headers) {
      if (name == "Cache-Control") value = kPublicCaching;
    }
    reply.answer.headers.emplace_back("Access-Control-Allow-Origin", "*");
    return reply;
  });
}

Routed RouteModerationApi(const HttpRequest& request, const TokenLimits& limits) {
  if (std::optional<HttpAnswer> description = Description(request)) return *description;
  std::string id;
  auto matched = Match(request, &id);
  if (auto* refused = std::get_if<HttpAnswer>(&matched)) return *refused;
  const Endpoint& endpoint = *std::get<const Endpoint*>(matched);
  const std::string token = BearerToken(request.authorization);
  if (token.empty()) return ErrorAnswer(Refusal::kUnauthorized, Medium::kJson);
  ApiCall call{{"", request.client}, id, ParseFormFields(QueryOf(request.target)), request.body};
  return StoreCall([token, limits, &endpoint, call = std::move(call)](Store& store, UnixTime now) {
    return WithToken(store, token, limits, endpoint, call, now);
  });
}

}  // namespace palisard
