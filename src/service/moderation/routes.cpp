#include "service/moderation/routes.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/utf8.h"
#include "service/accounts/credentials.h"
#include "service/http/form_fields.h"
#include "service/http/page_answers.h"
#include "service/moderation/pages.h"
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

// What a page knows of the signed-in moderator.
struct Visit {
  std::string token;
  Viewer viewer;
  Actor actor;
  FormFields fields;  // the form's (POST) or the query's (GET)
};

using Handler = HttpAnswer (*)(Store& store, const Visit& visit, const HttpRequest& request, UnixTime now,
                               Result* stored);

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
};

std::string Notice(const FormFields& fields) {
  const std::string done = Field(fields, "done");
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
  HttpAnswer answer = SeeOther("/signin");
  if (!CookieValue(request.cookie, kCookieName).empty()) {
    answer.headers.emplace_back("Set-Cookie", SessionCookie(request, "", 0));
  }
  return answer;
}

// A path on this site to return to; anything else returns to the queue.
std::string SafeBack(const std::string& back) {
  const bool local = back.size() > 1 && back[0] == '/' && back[1] != '/' &&
                     back.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789/-_") == std::string::npos;
  return local ? back : "/queue";
}

HttpAnswer Done(const Visit& visit, const char* code) {
  return SeeOther(SafeBack(Field(visit.fields, "back")) + "?done=" + code);
}

// A store's failure as a page; an unreachable store also goes to `stored`.
HttpAnswer Failed(const Visit& visit, const Result& result, Result* stored) {
  unsigned status = 400;
  const char* title = "Not done";
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
      *stored = result;
      status = 503;
      title = "The database cannot answer now";
  }
  return HtmlPage(status, MessagePage(visit.viewer, title, result.text()));
}

Result Reason(const Visit& visit, std::string* reason) {
  *reason = Field(visit.fields, "reason");
  return CheckText(TextField::kReason, *reason);
}

// Which screen of appeals the queue shows, from 0.
std::size_t AppealScreen(const Visit& visit) {
  uint64_t screen = 0;
  const std::string given = Field(visit.fields, "appeals");
  const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), screen);
  const bool read = error == std::errc() && end == given.data() + given.size();
  return read ? static_cast<std::size_t>(std::min<uint64_t>(screen, 1000000)) : 0;
}

Result PlayerField(const Visit& visit, const char* name, uint64_t* id) {
  return ParseCommunityId(Field(visit.fields, name), id);
}

HttpAnswer ShowQueue(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
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
  if (!result.ok()) return Failed(visit, result, stored);
  return HtmlPage(200, QueuePage(visit.viewer, Notice(visit.fields), cases, appeals));
}

HttpAnswer ShowBans(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  const bool all = Field(visit.fields, "all") == "1";
  uint64_t searched = 0;
  std::vector<Ban> bans;
  Result result;
  if (!Field(visit.fields, "id").empty()) {
    result = PlayerField(visit, "id", &searched);
    PlayerFile file;
    if (result.ok()) result = store.Player(searched, &file);
    for (const Ban& ban : file.bans) {
      if (all || ban.InForce(now)) bans.push_back(ban);
    }
  } else {
    result = store.ListBans(all, now, &bans);
    if (bans.size() > kBanLines) bans.resize(kBanLines);
  }
  std::vector<Mute> mutes;
  if (result.ok()) result = store.Mutes(&mutes);
  if (!result.ok()) return Failed(visit, result, stored);
  return HtmlPage(200, BansPage(visit.viewer, Notice(visit.fields), bans, mutes, searched, all, now));
}

HttpAnswer ShowPlayer(Store& store, const Visit& visit, const HttpRequest& request, UnixTime now, Result* stored) {
  uint64_t playerId = 0;
  Result result = ParseCommunityId(PathOf(request.target).substr(std::string_view("/player/").size()), &playerId);
  PlayerFile file;
  if (result.ok()) result = store.Player(playerId, &file);
  if (!result.ok()) return Failed(visit, result, stored);
  return HtmlPage(200, PlayerPage(visit.viewer, Notice(visit.fields), playerId, file, now));
}

HttpAnswer ShowAudit(Store& store, const Visit& visit, const HttpRequest&, UnixTime, Result* stored) {
  AuditFilter filter{Field(visit.fields, "moderator"), 0, Field(visit.fields, "action")};
  Result result;
  if (!Field(visit.fields, "player").empty()) result = PlayerField(visit, "player", &filter.playerId);
  std::vector<AuditEntry> entries;
  if (result.ok()) result = store.Audit(filter, kAuditLines, &entries);
  if (!result.ok()) return Failed(visit, result, stored);
  return HtmlPage(200, AuditPage(visit.viewer, filter, entries));
}

HttpAnswer ShowAccounts(Store& store, const Visit& visit, const HttpRequest&, UnixTime, Result* stored) {
  std::vector<Moderator> accounts;
  Result result = store.Moderators(&accounts);
  if (!result.ok()) return Failed(visit, result, stored);
  return HtmlPage(200, AccountsPage(visit.viewer, Notice(visit.fields), accounts));
}

HttpAnswer DoBan(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  NewBan ban;
  Result result = PlayerField(visit, "player", &ban.playerId);
  if (result.ok()) result = Reason(visit, &ban.reason);
  std::string duration = Field(visit.fields, "duration");
  if (duration == "custom") duration = Field(visit.fields, "custom");
  std::optional<int64_t> length;
  if (result.ok()) result = ParseBanDuration(duration, &length);
  if (length) ban.until = now + *length;
  if (result.ok()) result = store.AddBan(ban, visit.actor, now, nullptr);
  return result.ok() ? Done(visit, "ban") : Failed(visit, result, stored);
}

HttpAnswer DoLift(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  uint64_t playerId = 0;
  std::string reason;
  Result result = PlayerField(visit, "player", &playerId);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.LiftBan(playerId, reason, visit.actor, now, nullptr);
  return result.ok() ? Done(visit, "lift") : Failed(visit, result, stored);
}

HttpAnswer DoDismiss(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  int64_t caseId = 0;
  std::string reason;
  Result result = ParseCaseId(Field(visit.fields, "case"), &caseId);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.DismissCase(caseId, reason, visit.actor, now);
  return result.ok() ? Done(visit, "dismiss") : Failed(visit, result, stored);
}

HttpAnswer DoRejectAppeal(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  int64_t appealId = 0;
  std::string reason;
  Result result = ParseCaseId(Field(visit.fields, "appeal"), &appealId);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.RejectAppeal(appealId, reason, visit.actor, now);
  return result.ok() ? Done(visit, "reject") : Failed(visit, result, stored);
}

// A reporter id, or a network as SourceNetwork writes it.
Result MuteSubject(const Visit& visit, MuteKind* kind, std::string* subject) {
  const std::string given = Field(visit.fields, "subject");
  if (Field(visit.fields, "kind") == "reporter") {
    uint64_t id = 0;
    *kind = MuteKind::kReporter;
    Result parsed = ParseCommunityId(given, &id);
    *subject = std::to_string(id);
    return parsed;
  }
  *kind = MuteKind::kNetwork;
  *subject = given;
  if (Field(visit.fields, "kind") == "network" && SourceNetwork(given.substr(0, given.find('/'))) == given) {
    return Result::Ok();
  }
  return Result::Failure(Result::Kind::kInvalid, 0, "'" + given + "' is not a reporter id or a source network");
}

HttpAnswer DoMute(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  MuteKind kind = MuteKind::kReporter;
  std::string subject;
  std::string reason;
  Result result = MuteSubject(visit, &kind, &subject);
  if (result.ok()) result = Reason(visit, &reason);
  if (result.ok()) result = store.AddMute(kind, subject, reason, visit.actor, now);
  return result.ok() ? Done(visit, "mute") : Failed(visit, result, stored);
}

HttpAnswer DoUnmute(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  int64_t muteId = 0;
  Result result = ParseCaseId(Field(visit.fields, "mute"), &muteId);
  if (result.ok()) result = store.LiftMute(muteId, visit.actor, now);
  return result.ok() ? Done(visit, "unmute") : Failed(visit, result, stored);
}

HttpAnswer DoAddAccount(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  const std::string name = Field(visit.fields, "name");
  const std::string password = Field(visit.fields, "password");
  Result result = CheckModeratorName(name);
  if (result.ok()) result = CheckPassword(password);
  std::string hash;
  if (result.ok()) result = HashPassword(password, HashCost::kInteractive, &hash);
  const ModeratorRole role = Field(visit.fields, "role") == "admin" ? ModeratorRole::kAdmin : ModeratorRole::kModerator;
  if (result.ok()) result = store.AddModerator(name, role, hash, visit.actor, now);
  return result.ok() ? Done(visit, "account-add") : Failed(visit, result, stored);
}

HttpAnswer DoRemoveAccount(Store& store, const Visit& visit, const HttpRequest&, UnixTime now, Result* stored) {
  const std::string name = Field(visit.fields, "name");
  // An admin who removed himself could lock the community out of its pages.
  Result result = name == visit.viewer.name
                      ? Result::Failure(Result::Kind::kInvalid, 0, "you cannot remove your own account here")
                      : store.RemoveModerator(name, visit.actor, now);
  return result.ok() ? Done(visit, "account-remove") : Failed(visit, result, stored);
}

HttpAnswer DoSignOut(Store& store, const Visit& visit, const HttpRequest& request, UnixTime now, Result* stored) {
  Result result = store.EndSession(SessionTokenHash(visit.token), visit.actor, now);
  if (!result.ok()) return Failed(visit, result, stored);
  HttpAnswer answer = SeeOther("/signin");
  answer.headers.emplace_back("Set-Cookie", SessionCookie(request, "", 0));
  return answer;
}

struct Page {
  const char* method;
  const char* path;  // ending in '/': a prefix
  bool adminOnly;
  Handler handler;
};

constexpr Page kPages[] = {
    {"GET", "/queue", false, ShowQueue},
    {"GET", "/bans", false, ShowBans},
    {"GET", "/player/", false, ShowPlayer},
    {"GET", "/audit", false, ShowAudit},
    {"GET", "/accounts", true, ShowAccounts},
    {"POST", "/ban", false, DoBan},
    {"POST", "/lift", false, DoLift},
    {"POST", "/dismiss", false, DoDismiss},
    {"POST", "/reject-appeal", false, DoRejectAppeal},
    {"POST", "/mute", false, DoMute},
    {"POST", "/unmute", false, DoUnmute},
    {"POST", "/accounts/add", true, DoAddAccount},
    {"POST", "/accounts/remove", true, DoRemoveAccount},
    {"POST", "/signout", false, DoSignOut},
};

bool Matches(const Page& page, const std::string& path) {
  const std::string_view name = page.path;
  return name.back() == '/' ? path.size() > name.size() && path.rfind(name, 0) == 0 : path == name;
}

HttpAnswer Refused(const std::string& why) {
  return HtmlPage(403, "<!DOCTYPE html>\n<title>Refused</title><p>Refused: " + why + "</p>\n");
}

// Runs a page for the moderator whose session the request's cookie names.
HttpAnswer SignedIn(Store& store, const Page& page, const HttpRequest& request, UnixTime now, Result* stored) {
  const std::string token = CookieValue(request.cookie, kCookieName);
  if (token.empty()) return ToSignIn(request);
  std::optional<SessionInfo> session;
  *stored = store.FindSession(SessionTokenHash(token), now, &session);
  if (!stored->ok()) return HtmlPage(503, SignInPage("The database cannot answer now; try again in a moment."));
  if (!session) return ToSignIn(request);
  const Moderator& moderator = session->moderator;
  const bool admin = moderator.role == ModeratorRole::kAdmin;
  Visit visit{token, {moderator.name, admin, FormToken(token)}, {moderator.name, request.client}, {}};
  const bool post = request.method == "POST";
  visit.fields = ParseFormFields(post ? request.body : QueryOf(request.target));
  if (post && !SameSecret(Field(visit.fields, "csrf"), visit.viewer.formToken)) {
    return Refused("the form's token is missing or not this session's.");
  }
  if (page.adminOnly && !admin) return HtmlPage(403, MessagePage(visit.viewer, "Refused", "Only admins may do this."));
  return page.handler(store, visit, request, now, stored);
}

HttpAnswer SignIn(Store& store, const HttpRequest& request, const ServeSettings& settings, UnixTime now,
                  Result* stored) {
  const FormFields fields = ParseFormFields(request.body);
  // The audit keeps a name only as long as an account's may be.
  const Actor actor{Utf8Prefix(Field(fields, "name"), LimitOf(TextField::kAccountName).longest), request.client};
  SignInAttempt attempt;
  *stored = store.BeginSignIn(request.network, settings.signInLimits, actor, now, &attempt);
  if (!stored->ok()) return HtmlPage(503, SignInPage("The database cannot answer now; try again in a moment."));
  if (attempt.locked) {
    return HtmlPage(429, SignInPage("Too many failed sign-ins for this account or from your network: try again in " +
                                    std::to_string(settings.signInLimits.window / 60) + " minutes."));
  }
  const bool right = VerifyPassword(Field(fields, "password"), attempt.passwordHash);
  const std::string token = right ? NewSessionToken() : "";
  const std::optional<std::string> tokenHash =
      token.empty() ? std::nullopt : std::optional<std::string>(SessionTokenHash(token));
  *stored = store.FinishSignIn(attempt, tokenHash, now + kSessionLength, actor, now);
  if (!stored->ok()) return HtmlPage(503, SignInPage("The database cannot answer now; try again in a moment."));
  if (!tokenHash) return HtmlPage(401, SignInPage("Wrong name or password."));
  HttpAnswer answer = SeeOther("/queue");
  answer.headers.emplace_back("Set-Cookie", SessionCookie(request, token, kSessionLength));
  return answer;
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
  const std::string path = PathOf(request.target);
  const bool post = request.method == "POST";
  if (path == "/" && !post) return SeeOther("/queue");
  if (post && !SameOrigin(request)) return Refused("the request did not come from this site's own pages.");
  if (path == "/signin") {
    if (!post) return HtmlPage(200, SignInPage(""));
    return SignInCall{[request, &settings](Store& store, UnixTime now, Result* stored) {
      return SignIn(store, request, settings, now, stored);
    }};
  }
  bool pathKnown = false;
  for (const Page& page : kPages) {
    if (!Matches(page, path)) continue;
    pathKnown = true;
    if (request.method != page.method) continue;
    // Without a session nothing is looked up.
    if (!CarriesSession(request)) return ToSignIn(request);
    return StoreCall([request, &page](Store& store, UnixTime now, Result* stored) {
      return SignedIn(store, page, request, now, stored);
    });
  }
  if (pathKnown) {
    HttpAnswer answer = HtmlPage(405, "");
    answer.headers.emplace_back("Allow", post ? "GET" : "POST");
    return answer;
  }
  return HtmlPage(404, "<!DOCTYPE html>\n<title>Not found</title><p>Not found.</p>\n");
}

}  // namespace palisard
