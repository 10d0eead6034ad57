#include "service/moderation/routes.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/utf8.h"
#include "service/accounts/credentials.h"
#include "service/http/error_answers.h"
#include "service/http/form_fields.h"
#include "service/http/page_answers.h"
#include "service/moderation/pages.h"
#include "service/moderation/site_map.h"
#include "service/outbound/webhook_endpoints.h"
#include "service/values/record_values.h"
#include "service/values/source_network.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

constexpr const char* kCookieName = "palisard_session";
constexpr UnixTime kSessionLength = 8 * 3600;
// A report's evidence: the host's view from 30 minutes before it to 2
// after, since a host asks about its players only about once a minute.
constexpr UnixTime kMatchBefore = 30 * 60;
constexpr UnixTime kMatchAfter = 2 * 60;
constexpr std::size_t kQueueCases = 50;
// Appeals are shown a screen at a time, below the cases: a flood of them
// never hides a case.
constexpr std::size_t kQueueAppeals = 10;
constexpr std::size_t kBanLines = 500;
constexpr std::size_t kAuditLines = 200;
constexpr std::size_t kDeliveryLines = 20;  // of each webhook's log

// What a page knows of the signed-in moderator.
struct Visit {
  std::string token;
  Viewer viewer;
  Actor actor;
  FormFields fields;  // the form's (POST) or the query's (GET)
  const ServeSettings* settings = nullptr;
};

using Handler = StoreReply (*)(Store& store, const Visit& visit, const HttpRequest& request, UnixTime now);

// What an action that went well says on the page it returns to.
constexpr std::pair<std::string_view, const char*> kNotices[] = {
    {"ban", "The ban is made: every host blocks the player from its next ban request on."},
    {"lift", "The ban is lifted."},
    {"dismiss", "The case is dismissed."},
    {"reject", "The appeal is rejected."},
    {"mute", "Muted: later reports from there are refused."},
    {"unmute", "The mute is lifted."},
    {"account-add", "The account is added."},
    {"account-remove", "The account is removed and its sessions have ended."},
    {"webhook-remove", "The webhook is removed, with the deliveries it had waiting."},
    {"webhook-test", "A webhook.test event is on its way."},
    {"token-remove", "The token is removed: it is refused from now on."},
};

std::string Notice(const FormFields& fields) {
  const std::string done = Field(fields, field::kDone);
  for (const auto& [code, text] : kNotices) {
    if (code == done) return text;
  }
  return "";
}

std::string SessionCookie(const HttpRequest& request, const std::string& token, UnixTime maxAge) {
  return std::string(kCookieName) + "=" + token + "; Path=/; Max-Age=" + std::to_string(maxAge) +
         "; HttpOnly; SameSite=Strict" + (ThroughTls(request) ? "; Secure" : "");
}

HttpAnswer ToSignIn(const HttpRequest& request) {
  HttpAnswer answer = SeeOther(SitePath(PageId::kSignInForm));
  if (!CookieValue(request.cookie, kCookieName).empty()) {
    answer.headers.emplace_back("Set-Cookie", SessionCookie(request, "", 0));
  }
  return answer;
}

// A path on this site to return to; anything else returns to the queue.
std::string SafeBack(const std::string& back) {
  const bool local = back.size() > 1 && back[0] == '/' && back[1] != '/' &&
                     back.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789/-_") == std::string::npos;
  return local ? back : SitePath(PageId::kQueue);
}

HttpAnswer Done(const Visit& visit, const char* code) {
  return SeeOther(SafeBack(Field(visit.fields, field::kBack)) + "?" + std::string(field::kDone.name) + "=" + code);
}

// A refusal of the request as a page, and a failure of the store as one
// that also tells the worker.
StoreReply Failed(const Visit& visit, const Result& result) {
  unsigned status = 400;
  switch (result.kind()) {
    case Result::Kind::kInvalid:
      break;
    case Result::Kind::kConflict:
      status = 409;
      break;
    case Result::Kind::kNotFound:
      status = 404;
      break;
    default:
      const Refusal unavailable = Refusal::kCannotAnswerNow;
      return {HtmlPage(StatusOf(unavailable), MessagePage(visit.viewer, Wording(unavailable), result.text())), result};
  }
  return {HtmlPage(status, MessagePage(visit.viewer, "Not done", result.text())), Result::Ok()};
}

// A page the store answered.
StoreReply Shown(std::string page) { return {HtmlPage(200, std::move(page)), Result::Ok()}; }

// Back to the page the action came from, saying it is done; or why not.
StoreReply Finished(const Visit& visit, const Result& result, const char* done) {
  return result.ok() ? StoreReply{Done(visit, done), Result::Ok()} : Failed(visit, result);
}

Result Reason(const Visit& visit, std::string* reason) {
  *reason = Field(visit.fields, field::kReason);
  return CheckText(TextField::kReason, *reason);
}

// Which screen of appeals the queue shows, from 0.
std::size_t AppealScreen(const Visit& visit) {
  uint64_t screen = 0;
  const std::string given = Field(visit.fields, field::kAppealScreen);
  const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), screen);
  const bool read = error == std::errc() && end == given.data() + given.size();
  return read ? static_cast<std::size_t>(std::min<uint64_t>(screen, 1000000)) : 0;
}

Result PlayerField(const Visit& visit, const FormField& field, uint64_t* id) {
  return ParseCommunityId(Field(visit.fields, field), id);
}

StoreReply ShowQueue(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  std::vector<Case> open;
  Result result = store.OpenCases(&open);
  std::vector<QueueCase> cases;
  for (std::size_t i = 0; result.ok() && i < std::min(open.size(), kQueueCases); ++i) {
    QueueCase entry{open[i], {}, {}};
    result = store.CaseReports(open[i].id, kMatchBefore, kMatchAfter, &entry.reports);
    if (result.ok()) result = store.Player(open[i].playerId, &entry.history);
    cases.push_back(std::move(entry));
  }
  AppealsShown appeals{AppealScreen(visit), kQueueAppeals, 0, {}};
  std::vector<Appeal> openAppeals;
  if (result.ok()) {
    result = store.OpenAppeals(appeals.screen * kQueueAppeals, kQueueAppeals, &openAppeals, &appeals.total);
  }
  for (std::size_t i = 0; result.ok() && i < openAppeals.size(); ++i) {
    PlayerFile file;
    result = store.Player(openAppeals[i].playerId, &file);
    QueueAppeal entry{openAppeals[i], std::nullopt};
    for (const Ban& ban : file.bans) {
      if (!entry.ban && ban.InForce(now)) entry.ban = ban;
    }
    appeals.shown.push_back(std::move(entry));
  }
  if (!result.ok()) return Failed(visit, result);
  return Shown(QueuePage(visit.viewer, Notice(visit.fields), cases, appeals));
}

StoreReply ShowBans(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  const bool all = Field(visit.fields, field::kAllBans) == "1";
  std::optional<uint64_t> searched;
  std::vector<Ban> bans;
  Result result;
  if (!Field(visit.fields, field::kSearchedId).empty()) {
    uint64_t id = 0;
    result = PlayerField(visit, field::kSearchedId, &id);
    PlayerFile file;
    if (result.ok()) result = store.Player(id, &file);
    for (const Ban& ban : file.bans) {
      if (all || ban.InForce(now)) bans.push_back(ban);
    }
    searched = id;
  } else {
    result = store.ListBans(all, now, &bans);
    if (bans.size() > kBanLines) bans.resize(kBanLines);
  }
  std::vector<Mute> mutes;
  if (result.ok()) result = store.Mutes(&mutes);
  if (!result.ok()) return Failed(visit, result);
  return Shown(BansPage(visit.viewer, Notice(visit.fields), bans, mutes, searched, all, now));
}

StoreReply ShowPlayer(Store& store, const Visit& visit, const HttpRequest& request, UnixTime now) {
  uint64_t playerId = 0;
  Result result =
      ParseCommunityId(std::string(PathTail(PageOf(PageId::kPlayerFile), PathOf(request.target))), &playerId);
  PlayerFile file;
  if (result.ok()) result = store.Player(playerId, &file);
  if (!result.ok()) return Failed(visit, result);
  return Shown(PlayerPage(visit.viewer, Notice(visit.fields), playerId, file, now));
}

StoreReply ShowAudit(Store& store, const Visit& visit, const HttpRequest&, UnixTime) {
  AuditFilter filter{Field(visit.fields, field::kAuditActor), 0, Field(visit.fields, field::kAuditAction)};
  Result result;
  if (!Field(visit.fields, field::kAuditPlayer).empty())
    result = PlayerField(visit, field::kAuditPlayer, &filter.playerId);
  std::vector<AuditEntry> entries;
  if (result.ok()) result = store.Audit(filter, kAuditLines, &entries);
  if (!result.ok()) return Failed(visit, result);
  return Shown(AuditPage(visit.viewer, filter, entries));
}

StoreReply ShowAccounts(Store& store, const Visit& visit, const HttpRequest&, UnixTime) {
  std::vector<Moderator> accounts;
  Result result = store.Moderators(&accounts);
  if (!result.ok()) return Failed(visit, result);
  return Shown(AccountsPage(visit.viewer, Notice(visit.fields), accounts));
}

StoreReply DoBan(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  NewBan ban;
  Result result = PlayerField(visit, field::kPlayer, &ban.playerId);
  if (result.ok()) result = Reason(visit, &ban.reason);
  std::string duration = Field(visit.fields, field::kDuration);
  if (duration == "custom") duration = Field(visit.fields, field::kCustomDuration);
  std::optional<int64_t> length;
  if (result.ok()) result = ParseBanDuration(duration, &length);
  if (length) ban.until = now + *length;
  ban.isPrivate = !Field(visit.fields, field::kPrivateBan).empty();
  if (result.ok()) result = store.AddBan(ban, visit.actor, now, nullptr);
  return Finished(visit, result, "ban");
}

StoreReply DoLift(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  uint64_t playerId = 0;
  std::string reason;
  Result result = PlayerField(visit, field::kPlayer, &playerId);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.LiftBan(playerId, reason, visit.actor, now, nullptr);
  return Finished(visit, result, "lift");
}

StoreReply DoDismiss(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  int64_t caseId = 0;
  std::string reason;
  Result result = ParseCaseId(Field(visit.fields, field::kCase), &caseId);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.DismissCase(caseId, reason, visit.actor, now);
  return Finished(visit, result, "dismiss");
}

StoreReply DoRejectAppeal(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  int64_t appealId = 0;
  std::string reason;
  Result result = ParseCaseId(Field(visit.fields, field::kAppealNumber), &appealId);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.RejectAppeal(appealId, reason, visit.actor, now);
  return Finished(visit, result, "reject");
}

// A reporter id, or a network as SourceNetwork writes it.
Result MuteSubject(const Visit& visit, MuteKind* kind, std::string* subject) {
  const std::string given = Field(visit.fields, field::kMuteSubject);
  const std::optional<MuteKind> muted = ValueOfWord<MuteKind>(Field(visit.fields, field::kMuteKind));
  if (muted == MuteKind::kReporter) {
    uint64_t id = 0;
    *kind = MuteKind::kReporter;
    Result parsed = ParseCommunityId(given, &id);
    *subject = std::to_string(id);
    return parsed;
  }
  *kind = MuteKind::kNetwork;
  *subject = given;
  if (muted == MuteKind::kNetwork && SourceNetwork(given.substr(0, given.find('/'))) == given) {
    return Result::Ok();
  }
  return Result::Invalid("'" + given + "' is not a reporter id or a source network");
}

StoreReply DoMute(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  MuteKind kind = MuteKind::kReporter;
  std::string subject;
  std::string reason;
  Result result = MuteSubject(visit, &kind, &subject);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.AddMute(kind, subject, reason, visit.actor, now);
  return Finished(visit, result, "mute");
}

StoreReply DoUnmute(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  int64_t muteId = 0;
  Result result = ParseCaseId(Field(visit.fields, field::kMuteNumber), &muteId);
  if (result.ok()) result = store.LiftMute(muteId, visit.actor, now);
  return Finished(visit, result, "unmute");
}

StoreReply DoAddAccount(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  const std::string name = Field(visit.fields, field::kAccountName);
  const std::string password = Field(visit.fields, field::kNewPassword);
  Result result = CheckModeratorName(name);
  if (result.ok()) result = CheckPassword(password);
  std::string hash;
  if (result.ok()) result = HashPassword(password, HashCost::kInteractive, &hash);
  const ModeratorRole role =
      ValueOfWord<ModeratorRole>(Field(visit.fields, field::kRole)).value_or(ModeratorRole::kModerator);
  if (result.ok()) result = store.AddModerator(name, role, hash, visit.actor, now);
  return Finished(visit, result, "account-add");
}

StoreReply DoRemoveAccount(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  const std::string name = Field(visit.fields, field::kAccountName);
  // An admin who removed himself could lock the community out of its pages.
  Result result = name == visit.viewer.name ? Result::Invalid("you cannot remove your own account here")
                                            : store.RemoveModerator(name, visit.actor, now);
  return Finished(visit, result, "account-remove");
}

// The webhooks page; `newSecret` right after one is added.
StoreReply ShowWebhooksWith(Store& store, const Visit& visit, const std::string& notice, const std::string& newSecret) {
  std::vector<WebhookEndpoint> endpoints;
  Result result = store.Webhooks(&endpoints);
  std::vector<WebhookShown> shown;
  for (std::size_t i = 0; result.ok() && i < endpoints.size(); ++i) {
    shown.push_back({endpoints[i], {}});
    result = store.RecentDeliveries(endpoints[i].id, kDeliveryLines, &shown.back().deliveries);
  }
  if (!result.ok()) return Failed(visit, result);
  return Shown(WebhooksPage(visit.viewer, notice, shown, newSecret));
}

StoreReply ShowWebhooks(Store& store, const Visit& visit, const HttpRequest&, UnixTime) {
  return ShowWebhooksWith(store, visit, Notice(visit.fields), "");
}

// Answers with the page itself, not a way back to it: the secret must not
// travel in an address.
StoreReply DoAddWebhook(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  NewWebhookEndpoint endpoint;
  endpoint.url = Field(visit.fields, field::kWebhookUrl);
  const std::optional<WebhookFormat> format = ValueOfWord<WebhookFormat>(Field(visit.fields, field::kWebhookFormat));
  Result result = format ? Result::Ok() : Result::Invalid("the format is standard or discord");
  endpoint.format = format.value_or(WebhookFormat::kStandard);
  for (const FormField& event : field::kWebhookEvents) {
    if (Field(visit.fields, event) == "1") endpoint.events.emplace_back(event.name);
  }
  if (result.ok()) result = ReadyWebhook(&endpoint, visit.settings->webhookAllowPrivate);
  WebhookEndpoint made;
  if (result.ok()) result = store.AddWebhook(endpoint, visit.actor, now, &made);
  if (!result.ok()) return Failed(visit, result);
  return ShowWebhooksWith(store, visit, "The webhook is added.", made.secret);
}

StoreReply DoRemoveWebhook(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  int64_t id = 0;
  Result result = ParseWebhookId(Field(visit.fields, field::kWebhookNumber), &id);
  if (result.ok()) result = store.RemoveWebhook(id, visit.actor, now);
  return Finished(visit, result, "webhook-remove");
}

StoreReply DoTestWebhook(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  int64_t id = 0;
  Result result = ParseWebhookId(Field(visit.fields, field::kWebhookNumber), &id);
  if (result.ok()) result = store.TestWebhook(id, visit.actor, now);
  return Finished(visit, result, "webhook-test");
}

StoreReply DoSignOut(Store& store, const Visit& visit, const HttpRequest& request, UnixTime now) {
  Result result = store.EndSession(SessionTokenHash(visit.token), visit.actor, now);
  if (!result.ok()) return Failed(visit, result);
  HttpAnswer answer = SeeOther(SitePath(PageId::kSignInForm));
  answer.headers.emplace_back("Set-Cookie", SessionCookie(request, "", 0));
  return {answer, Result::Ok()};
}

StoreReply ShowTokens(Store& store, const Visit& visit, const HttpRequest&, UnixTime) {
  std::vector<ApiToken> tokens;
  Result result = store.Tokens(&tokens);
  if (!result.ok()) return Failed(visit, result);
  return Shown(TokensPage(visit.viewer, Notice(visit.fields), tokens, ""));
}

// Answers with the page itself rather than a redirect: the new token is
// shown once, and never travels in an address.
StoreReply DoAddToken(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  const std::string name = Field(visit.fields, field::kTokenName);
  const std::optional<TokenScope> scope = ValueOfWord<TokenScope>(Field(visit.fields, field::kTokenScope));
  Result result = CheckTokenName(name);
  if (result.ok() && !scope) result = Result::Invalid("a token's scope is read or moderate");
  std::string token;
  if (result.ok()) result = NewSessionToken(&token);
  if (result.ok()) result = store.AddToken(name, *scope, SessionTokenHash(token), visit.actor, now, nullptr);
  std::vector<ApiToken> tokens;
  if (result.ok()) result = store.Tokens(&tokens);
  if (!result.ok()) return Failed(visit, result);
  return Shown(TokensPage(visit.viewer, "The token is added.", tokens, token));
}

StoreReply DoRemoveToken(Store& store, const Visit& visit, const HttpRequest&, UnixTime now) {
  return Finished(visit, store.RemoveToken(Field(visit.fields, field::kTokenName), visit.actor, now), "token-remove");
}

// The handler of each signed-in page of the map.
Handler HandlerOf(PageId page) {
  switch (page) {
    case PageId::kQueue:
      return ShowQueue;
    case PageId::kBans:
      return ShowBans;
    case PageId::kPlayerFile:
      return ShowPlayer;
    case PageId::kAudit:
      return ShowAudit;
    case PageId::kAccounts:
      return ShowAccounts;
    case PageId::kBan:
      return DoBan;
    case PageId::kLift:
      return DoLift;
    case PageId::kDismiss:
      return DoDismiss;
    case PageId::kRejectAppeal:
      return DoRejectAppeal;
    case PageId::kMute:
      return DoMute;
    case PageId::kUnmute:
      return DoUnmute;
    case PageId::kAddAccount:
      return DoAddAccount;
    case PageId::kRemoveAccount:
      return DoRemoveAccount;
    case PageId::kSignOut:
      return DoSignOut;
    case PageId::kTokens:
      return ShowTokens;
    case PageId::kAddToken:
      return DoAddToken;
    case PageId::kRemoveToken:
      return DoRemoveToken;
    case PageId::kWebhooks:
      return ShowWebhooks;
    case PageId::kAddWebhook:
      return DoAddWebhook;
    case PageId::kRemoveWebhook:
      return DoRemoveWebhook;
    case PageId::kTestWebhook:
      return DoTestWebhook;
    case PageId::kModerationHome:
    case PageId::kSignInForm:
    case PageId::kSignIn:
    case PageId::kFrontPage:
    case PageId::kPlayerLookup:
    case PageId::kPlayerPage:
    case PageId::kAppeal:
    case PageId::kVersionFile:
      break;
  }
  return nullptr;
}

// The sign-in page when the database or the secrets cannot be used now.
HttpAnswer SignInUnanswered() {
  return HtmlPage(StatusOf(Refusal::kCannotAnswerNow), SignInPage(Wording(Refusal::kCannotAnswerNow)));
}

HttpAnswer Refused(const std::string& why) { return ErrorAnswer(Refusal::kForbidden, Medium::kHtml, why); }

// Runs a page for the moderator whose session the request's cookie names.
StoreReply SignedIn(Store& store, const SitePage& page, const HttpRequest& request, const ServeSettings& settings,
                    UnixTime now) {
  const std::string token = CookieValue(request.cookie, kCookieName);
  if (token.empty()) return {ToSignIn(request), Result::Ok()};
  std::optional<SessionInfo> session;
  const Result found = store.FindSession(SessionTokenHash(token), now, &session);
  if (!found.ok()) return {SignInUnanswered(), found};
  if (!session) return {ToSignIn(request), Result::Ok()};
  const Moderator& moderator = session->moderator;
  const bool admin = moderator.role == ModeratorRole::kAdmin;
  Visit visit{token, {moderator.name, admin, FormToken(token)}, {moderator.name, request.client}, {}, &settings};
  const bool post = request.method == "POST";
  visit.fields = ParseFormFields(post ? request.body : QueryOf(request.target));
  if (post && !SameSecret(Field(visit.fields, field::kFormToken), visit.viewer.formToken)) {
    return {Refused("the form's token is missing or not this session's."), Result::Ok()};
  }
  if (page.audience == Audience::kAdmin && !admin) {
    const Refusal refused = Refusal::kForbidden;
    return {HtmlPage(StatusOf(refused), MessagePage(visit.viewer, Wording(refused), "Only admins may do this.")),
            Result::Ok()};
  }
  const Result bounded = CheckFields(page, visit.fields);
  if (!bounded.ok()) return Failed(visit, bounded);
  return HandlerOf(page.id)(store, visit, request, now);
}

StoreReply SignIn(Store& store, const HttpRequest& request, const ServeSettings& settings, UnixTime now) {
  // Made first: a sign-in that could not open a session is not counted, and
  // nobody is told his right password is wrong.
  std::string token;
  if (!NewSessionToken(&token).ok()) return {SignInUnanswered(), Result::Ok()};
  const FormFields fields = ParseFormFields(request.body);
  const Result bounded = CheckFields(PageOf(PageId::kSignIn), fields);
  if (!bounded.ok()) return {HtmlPage(400, SignInPage(bounded.text())), Result::Ok()};
  // The audit keeps a name only as long as an account's may be.
  const Actor actor{Utf8Prefix(Field(fields, field::kAccountName), field::kAccountName.Longest()), request.client};
  SignInAttempt attempt;
  const Result begun = store.BeginSignIn(request.network, settings.signInLimits, actor, now, &attempt);
  if (!begun.ok()) return {SignInUnanswered(), begun};
  if (attempt.locked) {
    return {HtmlPage(429, SignInPage("Too many failed sign-ins for this account or from your network: try again in " +
                                     std::to_string(settings.signInLimits.window / 60) + " minutes.")),
            Result::Ok()};
  }
  bool right = false;
  if (!VerifyPassword(Field(fields, field::kPassword), attempt.passwordHash, &right).ok()) {
    return {SignInUnanswered(), Result::Ok()};
  }
  const std::optional<std::string> tokenHash = right ? std::optional(SessionTokenHash(token)) : std::nullopt;
  const Result finished = store.FinishSignIn(attempt, tokenHash, now + kSessionLength, actor, now);
  if (!finished.ok()) return {SignInUnanswered(), finished};
  if (!right) return {HtmlPage(401, SignInPage("Wrong name or password.")), Result::Ok()};
  HttpAnswer answer = SeeOther(SitePath(PageId::kQueue));
  answer.headers.emplace_back("Set-Cookie", SessionCookie(request, token, kSessionLength));
  return {answer, Result::Ok()};
}

// The Host's name without its port, as a browser sends it.
std::string HostName(const std::string& host) {
  std::string name = host;
  if (!name.empty() && name.front() == '[') {
    name = name.substr(1, name.find(']') - 1);
  } else if (name.find(':') == name.rfind(':')) {
    name = name.substr(0, name.find(':'));
  }
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name;
}

bool IsModerationHost(const std::string& host, const ServeSettings& settings) {
  const std::string name = HostName(host);
  if (name.empty()) return false;
  std::vector<std::string> allowed = settings.moderationHosts;
  if (allowed.empty()) allowed = {HostName(settings.moderationListen), "localhost"};
  return std::any_of(allowed.begin(), allowed.end(), [&](const std::string& given) { return HostName(given) == name; });
}

}  // namespace

bool CarriesSession(const HttpRequest& request) { return !CookieValue(request.cookie, kCookieName).empty(); }

Routed RouteModeration(const HttpRequest& request, const ServeSettings& settings) {
  // A name the settings do not give is a page elsewhere that reached this
  // port through its own name (DNS rebinding): it is refused before anything.
  if (!IsModerationHost(request.host, settings)) {
    return Refused("this service answers here only to the names its moderation-host setting gives.");
  }
  if (request.method == "POST" && !SameOrigin(request)) {
    return Refused("the request did not come from this site's own pages.");
  }
  const PageMatch match = MatchPage(Port::kModeration, request.method, PathOf(request.target));
  if (!match.page) {
    return match.allowed.empty() ? ErrorAnswer(Refusal::kNotFound, Medium::kHtml)
                                 : NotAllowed(Medium::kHtml, match.allowed);
  }
  const SitePage& page = *match.page;
  switch (page.id) {
    case PageId::kModerationHome:
      return SeeOther(SitePath(PageId::kQueue));
    case PageId::kSignInForm:
      return HtmlPage(200, SignInPage(""));
    case PageId::kSignIn:
      return SignInCall{
          [request, &settings](Store& store, UnixTime now) { return SignIn(store, request, settings, now); }};
    default:
      // Without a session nothing is looked up.
      if (!CarriesSession(request)) return ToSignIn(request);
      return StoreCall([request, &page, &settings](Store& store, UnixTime now) {
        return SignedIn(store, page, request, settings, now);
      });
  }
}

}  // namespace palisard
