#include "service/moderation/pages.h"

#include "common/ascii_text.h"
#include "common/direction_controls.h"
#include "common/html_text.h"
#include "common/utf8.h"
#include "service/moderation/page_skeleton.h"
#include "service/moderation/page_style.h"
#include "service/moderation/page_template.h"
#include "service/moderation/site_map.h"
#include "service/values/record_values.h"
#include "store/webhook_url.h"

namespace palisard {
namespace {

std::string E(const std::string& text) { return EscapeHtml(text); }
// What people wrote: escaped, without direction controls (which could end
// the isolation early), and isolated from the page's own words.
std::string U(const std::string& text) { return "<bdi>" + EscapeHtml(WithoutDirectionControls(text)) + "</bdi>"; }
std::string Id(uint64_t id) { return std::to_string(id); }
// "1 report", "3 reports".
std::string Count(uint32_t count, const std::string& thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string When(UnixTime time) { return "<time>" + E(FormatUtcTime(time)) + "</time>"; }

std::string Document(const std::string& title, const std::string& header, const std::string& body) {
  return FillIn(PALISARD_PAGE_SKELETON,
                {{"title", E(title)}, {"style", PALISARD_PAGE_STYLE}, {"header", header}, {"body", body}});
}

std::string Name(const FormField& field) { return "name=\"" + std::string(field.name) + "\""; }

std::string Hidden(const FormField& field, const std::string& value) {
  return "<input type=\"hidden\" " + Name(field) + " value=\"" + E(value) + "\">";
}

// An input of `field` with its bounds; `attributes` add to them.
std::string Input(const FormField& field, const std::string& attributes) {
  std::string input = "<input " + Name(field) + (attributes.empty() ? "" : " " + attributes) + " maxlength=\"" +
                      std::to_string(field.Longest()) + "\"";
  if (field.shortest > 0) input += " minlength=\"" + std::to_string(field.shortest) + "\"";
  return input + ">";
}

std::string Action(PageId page, const std::string& path) {
  return "method=\"" + AsciiLowercase(PageOf(page).method) + "\" action=\"" + path + "\"";
}

// A form that changes something: it carries the form token and the page to
// return to.
std::string PostForm(const Viewer& viewer, PageId page, const std::string& back, const std::string& fields,
                     const std::string& button, const std::string& cssClass = "") {
  return "<form " + Action(page, SitePath(page)) + (cssClass.empty() ? "" : " class=\"" + cssClass + "\"") + ">" +
         Hidden(field::kFormToken, viewer.formToken) + Hidden(field::kBack, back) + fields + "<button>" + button +
         "</button></form>";
}

std::string ReasonField(const std::string& label) {
  return "<label>" + label + " " + Input(field::kReason, "required") + "</label>";
}

std::string PlayerLink(uint64_t id) {
  return "<a href=\"" + SitePath(PageId::kPlayerFile, id) + "\">" + Id(id) + "</a>";
}

std::string Link(PageId page, const std::string& text) { return "<a href=\"" + SitePath(page) + "\">" + text + "</a>"; }

std::string Frame(const Viewer& viewer, const std::string& title, const std::string& notice, const std::string& body) {
  std::string header = "<header><strong>Palisard</strong>" + Link(PageId::kQueue, "Queue") +
                       Link(PageId::kBans, "Bans") + Link(PageId::kAudit, "Audit");
  if (viewer.admin) header += Link(PageId::kTokens, "API tokens");
  if (viewer.admin) header += Link(PageId::kAccounts, "Accounts") + Link(PageId::kWebhooks, "Webhooks");
  header +=
      PostForm(viewer, PageId::kSignOut, SitePath(PageId::kSignInForm), "", "Sign out " + U(viewer.name)) + "</header>";
  const std::string shown = notice.empty() ? "" : "<p class=\"notice\">" + E(notice) + "</p>";
  return Document(title + " - Palisard moderation", header, "<h1>" + E(title) + "</h1>" + shown + body);
}

std::string Until(const Ban& ban) { return ban.until ? "until " + When(*ban.until) : "permanently"; }

// "banned until T by W: REASON", and its lifting or end.
std::string BanText(const Ban& ban, UnixTime now) {
  std::string text = Until(ban) + ", by " + U(ban.madeBy) + " on " + When(ban.madeAt) + ": " + U(ban.reason);
  if (ban.lift) {
    text += " <span class=\"muted\">(lifted " + When(ban.lift->at) + " by " + U(ban.lift->by) + ": " +
            U(ban.lift->reason) + ")</span>";
  } else if (!ban.InForce(now)) {
    text += " <span class=\"muted\">(ran out)</span>";
  }
  return text;
}

std::string BanForm(const Viewer& viewer, uint64_t playerId, const std::string& back) {
  const std::string fields =
      Hidden(field::kPlayer, Id(playerId)) + ReasonField("Reason") + "<label>For <select " + Name(field::kDuration) +
      "><option value=\"1h\">1 hour</option><option value=\"1d\">1 day</option>"
      "<option value=\"7d\" selected>7 days</option><option value=\"30d\">30 days</option>"
      "<option value=\"permanent\">permanent</option><option value=\"custom\">custom:</option></select> " +
      Input(field::kCustomDuration, "placeholder=\"12h, 3d, 2w\" size=\"8\"") +
      "</label><label><input type=\"checkbox\" " + Name(field::kPrivateBan) +
      " value=\"1\"> keep out of the shared feed</label>";
  return "<details><summary>Ban " + Id(playerId) + "</summary>" + PostForm(viewer, PageId::kBan, back, fields, "Ban") +
         "</details>";
}

std::string LiftForm(const Viewer& viewer, uint64_t playerId, const std::string& back) {
  return "<details><summary>Lift the ban of " + Id(playerId) + "</summary>" +
         PostForm(viewer, PageId::kLift, back, Hidden(field::kPlayer, Id(playerId)) + ReasonField("Reason"),
                  "Lift the ban") +
         "</details>";
}

std::string MuteButton(const Viewer& viewer, MuteKind kind, const std::string& subject, const std::string& label) {
  return PostForm(viewer, PageId::kMute, SitePath(PageId::kQueue),
                  Hidden(field::kMuteKind, std::string(WordOf(kind))) + Hidden(field::kMuteSubject, subject) +
                      Hidden(field::kReason, "muted from the queue"),
                  label, "inline");
}

// Earlier bans and cases of the player, beside the case at hand.
std::string History(const QueueCase& entry) {
  std::string items;
  for (const Ban& ban : entry.history.bans) items += "<li>ban " + Until(ban) + ": " + U(ban.reason) + "</li>";
  for (const Case& c : entry.history.cases) {
    if (c.id == entry.c.id || !c.closing) continue;
    items += "<li>case " + std::to_string(c.id) + ", " + std::to_string(c.reports) + " reports, " +
             E(c.closing->decision) + " " + When(c.closing->at) + " by " + U(c.closing->by) + "</li>";
  }
  return items.empty() ? "<p class=\"muted\">No earlier bans or cases.</p>" : "<ul>" + items + "</ul>";
}

// How strongly hosts' ban requests back a report: the networks, other than
// the reporter's, of hosts that named both players together. Evidence of
// a strength, for the moderator to weigh; not a verdict.
std::string Evidence(uint32_t hostNetworks) {
  if (hostNetworks == 0) return "<span class=\"unseen\">not by a host on another network</span>";
  return "<span class=\"seen\">by hosts on " + Count(hostNetworks, "other network") + "</span>";
}

std::string CaseCard(const Viewer& viewer, const QueueCase& entry) {
  const Case& c = entry.c;
  std::string rows;
  for (const WitnessedReport& witnessed : entry.reports) {
    const Report& report = witnessed.report;
    rows += "<tr><td>" + PlayerLink(report.reporterId) + "</td><td>" + E(report.network) + "</td><td>" +
            When(report.at) + "</td><td>" + Evidence(witnessed.hostNetworks) + "</td><td>" +
            MuteButton(viewer, MuteKind::kReporter, Id(report.reporterId), "Mute reporter") + " " +
            MuteButton(viewer, MuteKind::kNetwork, report.network, "Mute network") + "</td></tr>";
  }
  return "<section class=\"card\" id=\"case-" + std::to_string(c.id) + "\"><h2>Reports of " + PlayerLink(c.playerId) +
         " <span class=\"muted\">case " + std::to_string(c.id) + "</span></h2><p>" + Count(c.reports, "report") +
         " from " + Count(c.networks, "network") + " and " + Count(c.reporters, "reporter") + ", first " +
         When(c.firstReportAt) + ", last " + When(c.lastReportAt) + ".</p>" + History(entry) +
         "<div class=\"scroll\"><table class=\"rows\"><tr><th>Reporter</th><th>Network</th><th>When</th>"
         "<th>Seen in the same match</th><th></th></tr>" +
         rows + "</table></div>" + BanForm(viewer, c.playerId, SitePath(PageId::kQueue)) +
         "<details><summary>Dismiss</summary>" +
         PostForm(viewer, PageId::kDismiss, SitePath(PageId::kQueue),
                  Hidden(field::kCase, std::to_string(c.id)) + ReasonField("Reason"), "Dismiss the case") +
         "</details></section>";
}

std::string AppealCard(const Viewer& viewer, const QueueAppeal& entry) {
  const Appeal& appeal = entry.appeal;
  const std::string ban = entry.ban ? "<p>Banned " + Until(*entry.ban) + " by " + U(entry.ban->madeBy) + ": " +
                                          U(entry.ban->reason) + "</p>"
                                    : "<p class=\"muted\">The ban is no longer in force.</p>";
  // The start of the text: the whole is on the player's page.
  constexpr std::size_t kShownCharacters = 300;
  const std::string shown = Utf8Prefix(appeal.text, kShownCharacters);
  const std::string more =
      shown.size() < appeal.text.size()
          ? " <a href=\"" + SitePath(PageId::kPlayerFile, appeal.playerId) + "\">(the whole appeal)</a>"
          : "";
  return "<section class=\"card appeal\" id=\"appeal-" + std::to_string(appeal.id) + "\"><h2>Appeal of " +
         PlayerLink(appeal.playerId) + " <span class=\"muted\">appeal " + std::to_string(appeal.id) + "</span></h2>" +
         ban + "<div class=\"quote\">" + U(shown) + more + "</div><p class=\"muted\">From " + E(appeal.network) + ", " +
         When(appeal.madeAt) + ".</p>" + LiftForm(viewer, appeal.playerId, SitePath(PageId::kQueue)) +
         "<details><summary>Reject</summary>" +
         PostForm(viewer, PageId::kRejectAppeal, SitePath(PageId::kQueue),
                  Hidden(field::kAppealNumber, std::to_string(appeal.id)) + ReasonField("Reason"),
                  "Reject the appeal") +
         "</details></section>";
}

std::string ReportRows(const std::vector<Report>& reports, bool byReporter) {
  std::string rows;
  for (const Report& report : reports) {
    rows += "<tr><td>" + When(report.at) + "</td><td>" +
            PlayerLink(byReporter ? report.reportedId : report.reporterId) + "</td><td>" + E(report.network) +
            "</td><td>" + (report.caseId != 0 ? "case " + std::to_string(report.caseId) : std::string("-")) +
            "</td></tr>";
  }
  return rows;
}

std::string Table(const std::string& heads, const std::string& rows) {
  if (rows.empty()) return "<p class=\"muted\">None.</p>";
  return "<div class=\"scroll\"><table><tr>" + heads + "</tr>" + rows + "</table></div>";
}

// A select's options: the words of an enum's table.
template <typename Enum>
std::string WordOptions() {
  std::string options;
  for (const auto& word : WordsOf(Enum{})) options += "<option>" + std::string(word.text) + "</option>";
  return options;
}

}  // namespace

std::string SignInPage(const std::string& message) {
  const std::string shown = message.empty() ? "" : "<p class=\"error\">" + E(message) + "</p>";
  return Document("Sign in - Palisard moderation", "<header><strong>Palisard</strong></header>",
                  "<h1>Sign in</h1>" + shown + "<form " + Action(PageId::kSignIn, SitePath(PageId::kSignIn)) +
                      " class=\"card\"><label>Name " +
                      Input(field::kAccountName, "autocomplete=\"username\" required") + "</label><label>Password " +
                      Input(field::kPassword, "type=\"password\" autocomplete=\"current-password\" required") +
                      "</label><button>Sign in</button></form>");
}

// The appeals below the cases, one screen at a time, with the way to the
// others.
std::string AppealsSection(const Viewer& viewer, const AppealsShown& appeals) {
  if (appeals.total == 0) return "";
  const std::size_t first = appeals.screen * appeals.perScreen;
  std::string body = "<h2 id=\"appeals\">" + Count(static_cast<uint32_t>(appeals.total), "open appeal") +
                     (appeals.shown.empty() ? std::string()
                                            : ", newest first: " + std::to_string(first + 1) + " to " +
                                                  std::to_string(first + appeals.shown.size())) +
                     "</h2>";
  for (const QueueAppeal& appeal : appeals.shown) body += AppealCard(viewer, appeal);
  const auto screen = [](std::size_t number, const char* text) {
    return "<a href=\"" + SitePath(PageId::kQueue) + "?" + std::string(field::kAppealScreen.name) + "=" +
           std::to_string(number) + "#appeals\">" + text + "</a>";
  };
  std::string pages;
  if (appeals.screen > 0) pages += screen(appeals.screen - 1, "Newer appeals");
  if (first + appeals.shown.size() < appeals.total) pages += screen(appeals.screen + 1, "Older appeals");
  return body + (pages.empty() ? "" : "<p class=\"pages\">" + pages + "</p>");
}

std::string QueuePage(const Viewer& viewer, const std::string& notice, const std::vector<QueueCase>& cases,
                      const AppealsShown& appeals) {
  std::string body;
  for (const QueueCase& entry : cases) body += CaseCard(viewer, entry);
  body += AppealsSection(viewer, appeals);
  if (body.empty()) body = "<p class=\"muted\">Nothing to decide.</p>";
  return Frame(viewer, "Queue", notice, body);
}

std::string BansPage(const Viewer& viewer, const std::string& notice, const std::vector<Ban>& bans,
                     const std::vector<Mute>& mutes, std::optional<uint64_t> searched, bool all, UnixTime now) {
  std::string body =
      "<form " + Action(PageId::kBans, SitePath(PageId::kBans)) + " class=\"card\"><label>Player id " +
      Input(field::kSearchedId, "inputmode=\"numeric\" value=\"" + (searched ? Id(*searched) : "") + "\"") +
      "</label><label><input type=\"checkbox\" " + Name(field::kAllBans) + " value=\"1\"" + (all ? " checked" : "") +
      "> past bans too</label><button>Search</button></form>";
  std::string rows;
  for (const Ban& ban : bans) {
    rows += "<tr><td>" + PlayerLink(ban.playerId) + "</td><td>" + BanText(ban, now) + "</td><td>" +
            (ban.InForce(now) ? LiftForm(viewer, ban.playerId, SitePath(PageId::kBans)) : "") + "</td></tr>";
  }
  body += Table("<th>Player</th><th>Ban</th><th></th>", rows);
  std::string muteRows;
  for (const Mute& mute : mutes) {
    const bool reporter = mute.kind == MuteKind::kReporter;
    muteRows += "<tr><td>" + std::string(reporter ? "reporter " : "network ") + E(mute.subject) + "</td><td>" +
                U(mute.reason) + "</td><td>" + U(mute.madeBy) + " " + When(mute.madeAt) + "</td><td>" +
                PostForm(viewer, PageId::kUnmute, SitePath(PageId::kBans),
                         Hidden(field::kMuteNumber, std::to_string(mute.id)), "Unmute", "inline") +
                "</td></tr>";
  }
  body += "<h2>Muted</h2>" + Table("<th>Whose reports</th><th>Why</th><th>By</th><th></th>", muteRows);
  return Frame(viewer, all ? "All bans" : "Bans in force", notice, body);
}

std::string PlayerPage(const Viewer& viewer, const std::string& notice, uint64_t playerId, const PlayerFile& file,
                       UnixTime now) {
  const Ban* inForce = nullptr;
  for (const Ban& ban : file.bans) {
    if (!inForce && ban.InForce(now)) inForce = &ban;
  }
  const std::string back = SitePath(PageId::kPlayerFile, playerId);
  std::string body = "<section class=\"card\"><p>" +
                     (inForce ? "Banned " + BanText(*inForce, now) : std::string("Not banned.")) + "</p>" +
                     (inForce ? LiftForm(viewer, playerId, back) : BanForm(viewer, playerId, back)) + "</section>";
  std::string banRows;
  for (const Ban& ban : file.bans) banRows += "<tr><td>" + BanText(ban, now) + "</td></tr>";
  body += "<h2>Bans</h2>" + Table("<th>Ban</th>", banRows);
  std::string caseRows;
  for (const Case& c : file.cases) {
    caseRows += "<tr><td>" + std::to_string(c.id) + "</td><td>" + std::to_string(c.reports) + " reports, " +
                std::to_string(c.networks) + " networks</td><td>" +
                (c.closing ? E(c.closing->decision) + " " + When(c.closing->at) + " by " + U(c.closing->by) + ": " +
                                 U(c.closing->reason)
                           : std::string("open")) +
                "</td></tr>";
  }
  body += "<h2>Cases</h2>" + Table("<th>Case</th><th>Reports</th><th>Decision</th>", caseRows);
  body += "<h2>Reports of this player</h2>" +
          Table("<th>When</th><th>Reporter</th><th>Network</th><th>Case</th>", ReportRows(file.reports, false));
  body += "<h2>Reports by this player</h2>" +
          Table("<th>When</th><th>Reported</th><th>Network</th><th>Case</th>", ReportRows(file.reportsBy, true));
  std::string appealRows;
  for (const Appeal& appeal : file.appeals) {
    appealRows += "<tr><td>" + When(appeal.madeAt) + "</td><td><div class=\"quote\">" + U(appeal.text) +
                  "</div></td><td>" +
                  (appeal.closing
                       ? E(appeal.closing->decision) + " by " + U(appeal.closing->by) + ": " + U(appeal.closing->reason)
                       : std::string("open")) +
                  "</td></tr>";
  }
  body += "<h2>Appeals</h2>" + Table("<th>When</th><th>Appeal</th><th>Decision</th>", appealRows);
  return Frame(viewer, "Player " + Id(playerId), notice, body);
}

std::string AuditPage(const Viewer& viewer, const AuditFilter& filter, const std::vector<AuditEntry>& entries) {
  std::string body = "<form " + Action(PageId::kAudit, SitePath(PageId::kAudit)) + " class=\"card\"><label>Who " +
                     Input(field::kAuditActor, "value=\"" + E(filter.actor) + "\"") + "</label><label>Player " +
                     Input(field::kAuditPlayer, "inputmode=\"numeric\" value=\"" +
                                                    (filter.playerId != 0 ? Id(filter.playerId) : "") + "\"") +
                     "</label><label>Action " +
                     Input(field::kAuditAction,
                           "value=\"" + E(filter.action) + "\" placeholder=\"ban, lift, appeal, sign-in-failed\"") +
                     "</label><button>Filter</button></form>";
  std::string rows;
  for (const AuditEntry& entry : entries) {
    rows += "<tr><td>" + When(entry.at) + "</td><td>" + U(entry.actor) + "</td><td>" + E(entry.from) + "</td><td>" +
            E(entry.action) + "</td><td>" + (entry.playerId != 0 ? PlayerLink(entry.playerId) : "") + "</td><td>" +
            (entry.before.empty() ? "" : "<code>" + U(entry.before) + "</code> &rarr; ") + "<code>" + U(entry.after) +
            "</code></td></tr>";
  }
  body += Table("<th>When</th><th>Who</th><th>From</th><th>Action</th><th>Player</th><th>Change</th>", rows);
  return Frame(viewer, "Audit", "", body);
}

std::string AccountsPage(const Viewer& viewer, const std::string& notice, const std::vector<Moderator>& accounts) {
  std::string rows;
  for (const Moderator& account : accounts) {
    rows += "<tr><td>" + U(account.name) + "</td><td>" + std::string(WordOf(account.role)) + "</td><td>added " +
            When(account.createdAt) + " by " + U(account.createdBy) + "</td><td>" +
            (account.name == viewer.name ? std::string()
                                         : PostForm(viewer, PageId::kRemoveAccount, SitePath(PageId::kAccounts),
                                                    Hidden(field::kAccountName, account.name), "Remove", "inline")) +
            "</td></tr>";
  }
  const std::string add =
      "<h2>Add an account</h2>" +
      PostForm(viewer, PageId::kAddAccount, SitePath(PageId::kAccounts),
               "<label>Name " + Input(field::kAccountName, "required") + "</label><label>Password (" +
                   std::to_string(field::kNewPassword.shortest) + " characters or more) " +
                   Input(field::kNewPassword, "type=\"password\" autocomplete=\"new-password\" required") +
                   "</label><label>Role <select " + Name(field::kRole) +
                   ">" + WordOptions<ModeratorRole>() + "</select></label>",
               "Add", "card");
  return Frame(viewer, "Accounts", notice, Table("<th>Name</th><th>Role</th><th>Added</th><th></th>", rows) + add);
}

namespace {

// "Enabled", "Enabled, failing since T", or "Disabled T: WHY".
std::string WebhookState(const WebhookEndpoint& endpoint) {
  if (endpoint.disabledAt) {
    return "<span class=\"unseen\">Disabled " + When(*endpoint.disabledAt) + ": " + U(endpoint.disabledWhy) +
           "</span>";
  }
  return "Enabled" + (endpoint.failingSince ? ", failing since " + When(*endpoint.failingSince) : std::string());
}

std::string DeliveryRows(const std::vector<DeliveryRecord>& deliveries) {
  std::string rows;
  for (const DeliveryRecord& delivery : deliveries) {
    const std::string state = delivery.delivered ? "delivered"
                              : delivery.nextAt  ? "next attempt " + When(*delivery.nextAt)
                                                 : std::string("given up");
    rows += "<tr><td>" + E(delivery.type) + " <code>" + E(delivery.eventId) + "</code></td><td>" +
            std::to_string(delivery.attempts) + "</td><td>" +
            (delivery.status ? std::to_string(*delivery.status) : std::string("-")) + "</td><td>" +
            (delivery.lastAt != 0 ? When(delivery.lastAt) : std::string("-")) + "</td><td>" + U(delivery.error) +
            "</td><td>" + state + "</td></tr>";
  }
  return rows;
}

std::string WebhookCard(const Viewer& viewer, const WebhookShown& shown) {
  const WebhookEndpoint& endpoint = shown.endpoint;
  std::string events;
  for (const std::string& type : endpoint.events) events += (events.empty() ? "" : ", ") + E(type);
  const std::string number = std::to_string(endpoint.id);
  const std::string back = SitePath(PageId::kWebhooks);
  return "<section class=\"card\"><h2>Webhook " + number + ", " + E(std::string(WordOf(endpoint.format))) +
         "</h2><p>" + U(ShownWebhookUrl(endpoint.format, endpoint.url)) + "</p><p>Events: " +
         (events.empty() ? "all" : events) + ". " + WebhookState(endpoint) + ". Added " + When(endpoint.createdAt) +
         " by " + U(endpoint.createdBy) + ".</p>" +
         PostForm(viewer, PageId::kTestWebhook, back, Hidden(field::kWebhookNumber, number), "Send a test event",
                  "inline") +
         " " +
         PostForm(viewer, PageId::kRemoveWebhook, back, Hidden(field::kWebhookNumber, number), "Remove", "inline") +
         Table("<th>Event</th><th>Attempts</th><th>Status</th><th>Last attempt</th><th>Error</th><th></th>",
               DeliveryRows(shown.deliveries)) +
         "</section>";
}

std::string AddWebhookForm(const Viewer& viewer) {
  std::string fields = "<label>URL " + Input(field::kWebhookUrl, "type=\"url\" required") +
                       "</label><label>Format <select " + Name(field::kWebhookFormat) +
                       "><option value=\"standard\">standard: signed JSON</option>"
                       "<option value=\"discord\">discord: a channel's webhook URL</option></select></label>"
                       "<fieldset><legend>Events (none ticked: all)</legend>";
  for (std::size_t i = 0; i < field::kWebhookEvents.size(); ++i) {
    fields += "<label><input type=\"checkbox\" " + Name(field::kWebhookEvents[i]) + " value=\"1\"> " +
              E(std::string(kEventTypes[i].title)) + " <code>" + E(std::string(kEventTypes[i].name)) +
              "</code></label>";
  }
  return "<h2>Add a webhook</h2>" +
         PostForm(viewer, PageId::kAddWebhook, SitePath(PageId::kWebhooks), fields + "</fieldset>", "Add", "card");
}

}  // namespace

std::string WebhooksPage(const Viewer& viewer, const std::string& notice, const std::vector<WebhookShown>& webhooks,
                         const std::string& newSecret) {
  std::string body;
  if (!newSecret.empty()) {
    body += "<section class=\"card notice\"><p>The new webhook's secret, shown this once: give it to the "
            "receiver, which checks each delivery's signature with it.</p><p><code>" +
            E(newSecret) + "</code></p></section>";
  }
  for (const WebhookShown& shown : webhooks) body += WebhookCard(viewer, shown);
  if (webhooks.empty()) body += "<p class=\"muted\">No webhooks: nothing is sent anywhere.</p>";
  return Frame(viewer, "Webhooks", notice, body + AddWebhookForm(viewer));
}

std::string MessagePage(const Viewer& viewer, const std::string& title, const std::string& message) {
  return Frame(viewer, title, "",
               "<p class=\"error\">" + U(message) + "</p><p>" + Link(PageId::kQueue, "Back") + "</p>");
}

std::string PublicPlayerPage(uint64_t playerId, const std::optional<Ban>& ban, bool appealOpenFromHere,
                             const std::string& notice) {
  std::string body = notice.empty() ? "" : "<p class=\"notice\">" + E(notice) + "</p>";
  if (!ban) {
    body += "<p>Player " + Id(playerId) + " is not banned here.</p>";
  } else {
    body += "<section class=\"card\"><p>Player " + Id(playerId) + " is banned " + Until(*ban) +
            ".</p><p>Reason: " + U(ban->reason) + "</p></section>";
    body += appealOpenFromHere ? "<p>An appeal from your network is open; the moderators will decide on it.</p>"
                               : "<form " + Action(PageId::kAppeal, SitePath(PageId::kAppeal, playerId)) +
                                     " class=\"card\"><label>Your appeal: why should the ban be lifted? <textarea " +
                                     Name(field::kAppealText) + " rows=\"5\" maxlength=\"" +
                                     std::to_string(field::kAppealText.Longest()) +
                                     "\" required></textarea></label><button>Send the appeal</button></form>";
  }
  return Document("Player " + Id(playerId) + " - Palisard", "<header><strong>Palisard</strong></header>",
                  "<h1>Player " + Id(playerId) + "</h1>" + body);
}

std::string TokensPage(const Viewer& viewer, const std::string& notice, const std::vector<ApiToken>& tokens,
                       const std::string& made) {
  const std::string shown =
      made.empty() ? ""
                   : "<section class=\"card\"><p>The new token, shown this once (the service keeps only a hash "
                     "of it):</p><p><code>" +
                         E(made) + "</code></p></section>";
  std::string rows;
  for (const ApiToken& token : tokens) {
    rows += "<tr><td>" + U(token.name) + "</td><td>" + E(std::string(WordOf(token.scope))) + "</td><td>added " +
            When(token.createdAt) + " by " + U(token.createdBy) + "</td><td>" +
            (token.lastUsedAt ? When(*token.lastUsedAt) : std::string("never")) + "</td><td>" +
            PostForm(viewer, PageId::kRemoveToken, SitePath(PageId::kTokens), Hidden(field::kTokenName, token.name),
                     "Remove", "inline") +
            "</td></tr>";
  }
  const std::string add =
      "<h2>Add a token</h2>" +
      PostForm(viewer, PageId::kAddToken, SitePath(PageId::kTokens),
               "<label>Name " + Input(field::kTokenName, "required") + "</label><label>Scope <select " +
                   Name(field::kTokenScope) + ">" + WordOptions<TokenScope>() + "</select></label>",
               "Add", "card");
  return Frame(viewer, "API tokens", notice,
               shown + Table("<th>Name</th><th>Scope</th><th>Added</th><th>Last used</th><th></th>", rows) + add);
}

}  // namespace palisard
