#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/community_id.h"
#include "common/result.h"
#include "service/accounts/credentials.h"
#include "service/http/form_fields.h"
#include "store/text_limits.h"
#include "store/webhook_events.h"

namespace palisard {

// The pages of both ports, each described once: its path, its method, who
// may use it and the fields of its form with their bounds. The routers
// dispatch from this map and check every field against its bound; the
// pages write their links, forms, field names and maxlength from it.

// A field of a form (or of a search's query). A text people write has its
// limit in store/text_limits, and is checked where it is used (CheckText,
// CheckModeratorName); every other field is at most `longest` characters,
// which CheckFields checks.
struct FormField {
  std::string_view name;
  std::size_t longest = 0;
  std::optional<TextField> text = std::nullopt;
  std::size_t shortest = 0;  // a new password's least; 0: none

  // What the page's input says as its maxlength.
  std::size_t Longest() const { return text ? LimitOf(*text).longest : longest; }
};

namespace field {
// Every form that changes something carries these two.
inline constexpr FormField kFormToken{"csrf", kTokenLength};
inline constexpr FormField kBack{"back", 64};  // a path of this site to return to
inline constexpr FormField kPlayer{"player", kCommunityIdDigits};
inline constexpr FormField kReason{"reason", 0, TextField::kReason};
inline constexpr FormField kDuration{"duration", 16};
inline constexpr FormField kCustomDuration{"custom", 16};
inline constexpr FormField kPrivateBan{"private", 1};  // a checkbox: kept out of the shared feed
inline constexpr FormField kCase{"case", 19};
inline constexpr FormField kAppealNumber{"appeal", 19};
inline constexpr FormField kMuteKind{"kind", 8};
inline constexpr FormField kMuteSubject{"subject", 48};  // a reporter's id or an IPv6 /64
inline constexpr FormField kMuteNumber{"mute", 19};
inline constexpr FormField kAccountName{"name", 0, TextField::kAccountName};
inline constexpr FormField kPassword{"password", kLongestPassword};
inline constexpr FormField kNewPassword{"password", kLongestPassword, std::nullopt, kShortestPassword};
inline constexpr FormField kRole{"role", 9};
inline constexpr FormField kSearchedId{"id", kCommunityIdDigits};
inline constexpr FormField kAllBans{"all", 1};
inline constexpr FormField kAuditActor{"moderator", 64};
inline constexpr FormField kAuditPlayer{"player", kCommunityIdDigits};
inline constexpr FormField kAuditAction{"action", 32};
inline constexpr FormField kAppealText{"appeal", 0, TextField::kAppeal};
// What the moderation pages' own links carry: a screen of the queue's
// appeals, and the action just done.
inline constexpr FormField kAppealScreen{"appeals", 7};
inline constexpr FormField kDone{"done", 16};
// A webhook endpoint's, and a checkbox for each event type of
// webhook_events.h, named as the type.
inline constexpr FormField kWebhookUrl{"url", 0, TextField::kWebhookUrl};
inline constexpr FormField kWebhookFormat{"format", 8};
inline constexpr FormField kWebhookNumber{"webhook", 19};
inline constexpr auto kWebhookEvents = [] {
  std::array<FormField, std::size(kEventTypes)> fields{};
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i] = FormField{kEventTypes[i].name, 1};
  return fields;
}();
// The API tokens' page.
inline constexpr FormField kTokenName{"name", 0, TextField::kAccountName};
inline constexpr FormField kTokenScope{"scope", 8};
}  // namespace field

enum class Port { kPublic, kModeration };
enum class Audience { kAnyone, kModerator, kAdmin };

enum class PageId {
  // The moderation pages.
  kModerationHome,
  kSignInForm,
  kSignIn,
  kSignOut,
  kQueue,
  kBans,
  kPlayerFile,
  kAudit,
  kAccounts,
  kBan,
  kLift,
  kDismiss,
  kRejectAppeal,
  kMute,
  kUnmute,
  kAddAccount,
  kRemoveAccount,
  kWebhooks,
  kAddWebhook,
  kRemoveWebhook,
  kTestWebhook,
  // The public pages.
  kFrontPage,
  kPlayerLookup,
  kPlayerPage,
  kAppeal,
  kVersionFile,
  // The admins' page of API tokens.
  kTokens,
  kAddToken,
  kRemoveToken,
};

struct SitePage {
  PageId id;
  Port port;
  std::string_view method;
  std::string_view path;  // ending in '/': a prefix, followed by the page's own id
  Audience audience;
  std::span<const FormField> fields;
};

const SitePage& PageOf(PageId id);

// A page's path; for a page of many (its path a prefix), the one of `id`.
std::string SitePath(PageId page);
std::string SitePath(PageId page, uint64_t id);

// What the map says of a request for `path` with `method` on `port`: its
// page, or none, with the methods the path takes (empty: no such path).
struct PageMatch {
  const SitePage* page = nullptr;
  std::string allowed;  // as an Allow header writes them
};
PageMatch MatchPage(Port port, std::string_view method, std::string_view path);

// What follows a prefix page's path in `path`: the page's own id.
std::string_view PathTail(const SitePage& page, std::string_view path);

// The value of `field` in `fields`, or empty.
inline std::string Field(const FormFields& fields, const FormField& field) {
  return Field(fields, std::string(field.name));
}

// Ok when each field of `page` that is not a text people write is within
// its bound; kInvalid naming the first that is not.
Result CheckFields(const SitePage& page, const FormFields& fields);

}  // namespace palisard
