#include "service/moderation/site_map.h"

#include <algorithm>

#include "common/utf8.h"
#include "service/values/public_paths.h"

namespace palisard {
namespace {

using namespace field;

// A player's pages, on either port.
constexpr std::string_view kPlayerPath = kPlayerPagePath;

constexpr FormField kSignInFields[] = {kAccountName, kPassword};
constexpr FormField kSignOutFields[] = {kFormToken, kBack};
constexpr FormField kQueueFields[] = {kAppealScreen, kDone};
constexpr FormField kBansFields[] = {kSearchedId, kAllBans, kDone};
constexpr FormField kDoneFields[] = {kDone};
constexpr FormField kAuditFields[] = {kAuditActor, kAuditPlayer, kAuditAction};
constexpr FormField kBanFields[] = {kFormToken, kBack, kPlayer, kReason, kDuration, kCustomDuration, kPrivateBan};
constexpr FormField kLiftFields[] = {kFormToken, kBack, kPlayer, kReason};
constexpr FormField kDismissFields[] = {kFormToken, kBack, kCase, kReason};
constexpr FormField kRejectFields[] = {kFormToken, kBack, kAppealNumber, kReason};
constexpr FormField kMuteFields[] = {kFormToken, kBack, kMuteKind, kMuteSubject, kReason};
constexpr FormField kUnmuteFields[] = {kFormToken, kBack, kMuteNumber};
constexpr FormField kAddAccountFields[] = {kFormToken, kBack, kAccountName, kNewPassword, kRole};
constexpr FormField kRemoveAccountFields[] = {kFormToken, kBack, kAccountName};
constexpr auto kAddWebhookFields = [] {
  std::array<FormField, 4 + kWebhookEvents.size()> fields{kFormToken, kBack, kWebhookUrl, kWebhookFormat};
  std::copy(kWebhookEvents.begin(), kWebhookEvents.end(), fields.begin() + 4);
  return fields;
}();
constexpr FormField kWebhookFields[] = {kFormToken, kBack, kWebhookNumber};
constexpr FormField kLookupFields[] = {kSearchedId};
constexpr FormField kAppealFields[] = {kAppealText};
constexpr FormField kAddTokenFields[] = {kFormToken, kBack, kTokenName, kTokenScope};
constexpr FormField kRemoveTokenFields[] = {kFormToken, kBack, kTokenName};

constexpr Port kMod = Port::kModeration;
constexpr Port kPub = Port::kPublic;

// In the order of PageId.
constexpr SitePage kPages[] = {
    {PageId::kModerationHome, kMod, "GET", "/", Audience::kAnyone, {}},
    {PageId::kSignInForm, kMod, "GET", "/signin", Audience::kAnyone, {}},
    {PageId::kSignIn, kMod, "POST", "/signin", Audience::kAnyone, kSignInFields},
    {PageId::kSignOut, kMod, "POST", "/signout", Audience::kModerator, kSignOutFields},
    {PageId::kQueue, kMod, "GET", "/queue", Audience::kModerator, kQueueFields},
    {PageId::kBans, kMod, "GET", "/bans", Audience::kModerator, kBansFields},
    {PageId::kPlayerFile, kMod, "GET", kPlayerPath, Audience::kModerator, kDoneFields},
    {PageId::kAudit, kMod, "GET", "/audit", Audience::kModerator, kAuditFields},
    {PageId::kAccounts, kMod, "GET", "/accounts", Audience::kAdmin, kDoneFields},
    {PageId::kBan, kMod, "POST", "/ban", Audience::kModerator, kBanFields},
    {PageId::kLift, kMod, "POST", "/lift", Audience::kModerator, kLiftFields},
    {PageId::kDismiss, kMod, "POST", "/dismiss", Audience::kModerator, kDismissFields},
    {PageId::kRejectAppeal, kMod, "POST", "/reject-appeal", Audience::kModerator, kRejectFields},
    {PageId::kMute, kMod, "POST", "/mute", Audience::kModerator, kMuteFields},
    {PageId::kUnmute, kMod, "POST", "/unmute", Audience::kModerator, kUnmuteFields},
    {PageId::kAddAccount, kMod, "POST", "/accounts/add", Audience::kAdmin, kAddAccountFields},
    {PageId::kRemoveAccount, kMod, "POST", "/accounts/remove", Audience::kAdmin, kRemoveAccountFields},
    {PageId::kWebhooks, kMod, "GET", "/webhooks", Audience::kAdmin, kDoneFields},
    {PageId::kAddWebhook, kMod, "POST", "/webhooks/add", Audience::kAdmin, kAddWebhookFields},
    {PageId::kRemoveWebhook, kMod, "POST", "/webhooks/remove", Audience::kAdmin, kWebhookFields},
    {PageId::kTestWebhook, kMod, "POST", "/webhooks/test", Audience::kAdmin, kWebhookFields},
    {PageId::kFrontPage, kPub, "GET", "/", Audience::kAnyone, {}},
    {PageId::kPlayerLookup, kPub, "GET", "/player", Audience::kAnyone, kLookupFields},
    {PageId::kPlayerPage, kPub, "GET", kPlayerPath, Audience::kAnyone, {}},
    {PageId::kAppeal, kPub, "POST", kPlayerPath, Audience::kAnyone, kAppealFields},
    {PageId::kVersionFile, kPub, "GET", "/version.txt", Audience::kAnyone, {}},
    {PageId::kTokens, kMod, "GET", "/tokens", Audience::kAdmin, kDoneFields},
    {PageId::kAddToken, kMod, "POST", "/tokens/add", Audience::kAdmin, kAddTokenFields},
    {PageId::kRemoveToken, kMod, "POST", "/tokens/remove", Audience::kAdmin, kRemoveTokenFields},
};

constexpr bool InIdOrder() {
  for (std::size_t i = 0; i < std::size(kPages); ++i) {
    if (static_cast<std::size_t>(kPages[i].id) != i) return false;
  }
  return true;
}
static_assert(InIdOrder(), "kPages lists every page in the order of PageId");

bool IsPrefix(const SitePage& page) { return page.path.back() == '/' && page.path.size() > 1; }

bool PathMatches(const SitePage& page, std::string_view path) {
  if (!IsPrefix(page)) return path == page.path;
  return path.size() > page.path.size() && path.substr(0, page.path.size()) == page.path;
}

}  // namespace

const SitePage& PageOf(PageId id) { return kPages[static_cast<std::size_t>(id)]; }

std::string SitePath(PageId page) { return std::string(PageOf(page).path); }

std::string SitePath(PageId page, uint64_t id) { return SitePath(page) + std::to_string(id); }

PageMatch MatchPage(Port port, std::string_view method, std::string_view path) {
  PageMatch match;
  for (const SitePage& page : kPages) {
    if (page.port != port || !PathMatches(page, path)) continue;
    if (page.method == method) match.page = &page;
    match.allowed += (match.allowed.empty() ? "" : ", ") + std::string(page.method);
  }
  return match;
}

std::string_view PathTail(const SitePage& page, std::string_view path) { return path.substr(page.path.size()); }

Result CheckFields(const SitePage& page, const FormFields& fields) {
  for (const FormField& bounded : page.fields) {
    if (bounded.text) continue;
    const std::string value = Field(fields, std::string(bounded.name));
    if (Utf8Prefix(value, bounded.longest).size() < value.size()) {
      return Result::Invalid("the field " + std::string(bounded.name) + " is longer than " +
                             std::to_string(bounded.longest) + " characters");
    }
  }
  return Result::Ok();
}

}  // namespace palisard
