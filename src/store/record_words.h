#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace palisard {

// The words the store writes into its records for the values of its enums:
// one table beside each enum, which the store writes and reads by, the
// schema's CHECK lists are made of, and the pages and the command line show.
//
// A word once written stays in databases: never change one. A new value
// goes at the end of its enum and its table, and needs a new migration that
// lets the databases made before take its word.

template <typename Enum>
struct Word {
  Enum value;
  std::string_view text;
};

// Every value in its place, so that WordOf finds a value's word by its number.
template <typename Enum, std::size_t size>
constexpr bool InValueOrder(const Word<Enum> (&words)[size]) {
  for (std::size_t i = 0; i < size; ++i) {
    if (static_cast<std::size_t>(words[i].value) != i) return false;
  }
  return true;
}

enum class ModeratorRole { kModerator, kAdmin };
inline constexpr Word<ModeratorRole> kRoleWords[] = {
    {ModeratorRole::kModerator, "moderator"},
    {ModeratorRole::kAdmin, "admin"},
};

// A reporter id or a source network whose reports are refused (and
// counted, as ReportVerdict::kMuted).
enum class MuteKind { kReporter, kNetwork };
inline constexpr Word<MuteKind> kMuteKindWords[] = {
    {MuteKind::kReporter, "reporter"},
    {MuteKind::kNetwork, "network"},
};

// How a case of reports is closed.
enum class CaseDecision { kBanned, kDismissed };
inline constexpr Word<CaseDecision> kCaseDecisionWords[] = {
    {CaseDecision::kBanned, "banned"},
    {CaseDecision::kDismissed, "dismissed"},
};

// How an appeal is closed: granted when the ban is lifted.
enum class AppealDecision { kGranted, kRejected };
inline constexpr Word<AppealDecision> kAppealDecisionWords[] = {
    {AppealDecision::kGranted, "granted"},
    {AppealDecision::kRejected, "rejected"},
};

// What an audit line records. The refusals (kSignInFailed to
// kAppealRefused) are counted per window and folded into a few lines each
// (see Store::Prune).
enum class AuditAction {
  kBan,
  kLift,
  kImport,
  kDismiss,
  kAppeal,
  kAppealRejected,
  kMute,
  kUnmute,
  kSetting,
  kModeratorAdd,
  kModeratorRemove,
  kSignIn,
  kSignOut,
  kSignInFailed,
  kSignInRefused,
  kReportRefused,
  kAppealRefused,
  kWebhookAdd,
  kWebhookRemove,
  kWebhookTest,
  kTokenAdd,
  kTokenRemove,
};
inline constexpr Word<AuditAction> kAuditActionWords[] = {
    {AuditAction::kBan, "ban"},
    {AuditAction::kLift, "lift"},
    {AuditAction::kImport, "import"},
    {AuditAction::kDismiss, "dismiss"},
    {AuditAction::kAppeal, "appeal"},
    {AuditAction::kAppealRejected, "appeal-rejected"},
    {AuditAction::kMute, "mute"},
    {AuditAction::kUnmute, "unmute"},
    {AuditAction::kSetting, "setting"},
    {AuditAction::kModeratorAdd, "moderator-add"},
    {AuditAction::kModeratorRemove, "moderator-remove"},
    {AuditAction::kSignIn, "sign-in"},
    {AuditAction::kSignOut, "sign-out"},
    {AuditAction::kSignInFailed, "sign-in-failed"},
    {AuditAction::kSignInRefused, "sign-in-refused"},
    {AuditAction::kReportRefused, "report-refused"},
    {AuditAction::kAppealRefused, "appeal-refused"},
    {AuditAction::kWebhookAdd, "webhook-add"},
    {AuditAction::kWebhookRemove, "webhook-remove"},
    {AuditAction::kWebhookTest, "webhook-test"},
    {AuditAction::kTokenAdd, "token-add"},
    {AuditAction::kTokenRemove, "token-remove"},
};

// Why a report was or was not recorded. Refusals are counted (see
// Prune), never stored as reports; their audit lines name the verdict.
// kInvalid: an id is 0, or a player reports himself. kMuted: a moderator
// muted the reporter id or the source network.
enum class ReportVerdict { kRecorded, kNetworkLimit, kPairLimit, kReportedLimit, kInvalid, kMuted };
inline constexpr Word<ReportVerdict> kReportVerdictWords[] = {
    {ReportVerdict::kRecorded, "recorded"},     {ReportVerdict::kNetworkLimit, "network limit"},
    {ReportVerdict::kPairLimit, "pair limit"},  {ReportVerdict::kReportedLimit, "reported limit"},
    {ReportVerdict::kInvalid, "invalid"},       {ReportVerdict::kMuted, "muted"},
};

// kRecorded, or why not: no ban of the player is in force, an appeal of his
// from the same network is open already, or the network's or everyone's
// bucket is empty.
enum class AppealVerdict { kRecorded, kNotBanned, kOpenAlready, kNetworkLimit, kServiceLimit };
inline constexpr Word<AppealVerdict> kAppealVerdictWords[] = {
    {AppealVerdict::kRecorded, "recorded"},        {AppealVerdict::kNotBanned, "not banned"},
    {AppealVerdict::kOpenAlready, "open already"}, {AppealVerdict::kNetworkLimit, "network limit"},
    {AppealVerdict::kServiceLimit, "service limit"},
};

// How an endpoint wants its events: signed as Standard Webhooks, or as a
// Discord incoming webhook's message.
enum class WebhookFormat { kStandard, kDiscord };
inline constexpr Word<WebhookFormat> kWebhookFormatWords[] = {
    {WebhookFormat::kStandard, "standard"},
    {WebhookFormat::kDiscord, "discord"},
};

// What an API token may do: read, or also ban, lift and dismiss.
enum class TokenScope { kRead, kModerate };
inline constexpr Word<TokenScope> kTokenScopeWords[] = {
    {TokenScope::kRead, "read"},
    {TokenScope::kModerate, "moderate"},
};

// A change of one of the community's own bans, as its shared feed tells it.
enum class FeedChangeKind { kMade, kLifted };
inline constexpr Word<FeedChangeKind> kFeedChangeWords[] = {
    {FeedChangeKind::kMade, "made"},
    {FeedChangeKind::kLifted, "lifted"},
};

static_assert(InValueOrder(kRoleWords) && InValueOrder(kMuteKindWords) && InValueOrder(kCaseDecisionWords) &&
              InValueOrder(kAppealDecisionWords) && InValueOrder(kAuditActionWords) &&
              InValueOrder(kReportVerdictWords) && InValueOrder(kAppealVerdictWords) &&
              InValueOrder(kWebhookFormatWords) && InValueOrder(kTokenScopeWords) &&
              InValueOrder(kFeedChangeWords));

// Each enum's table, by the enum.
constexpr std::span<const Word<ModeratorRole>> WordsOf(ModeratorRole) { return kRoleWords; }
constexpr std::span<const Word<MuteKind>> WordsOf(MuteKind) { return kMuteKindWords; }
constexpr std::span<const Word<CaseDecision>> WordsOf(CaseDecision) { return kCaseDecisionWords; }
constexpr std::span<const Word<AppealDecision>> WordsOf(AppealDecision) { return kAppealDecisionWords; }
constexpr std::span<const Word<AuditAction>> WordsOf(AuditAction) { return kAuditActionWords; }
constexpr std::span<const Word<ReportVerdict>> WordsOf(ReportVerdict) { return kReportVerdictWords; }
constexpr std::span<const Word<AppealVerdict>> WordsOf(AppealVerdict) { return kAppealVerdictWords; }
constexpr std::span<const Word<WebhookFormat>> WordsOf(WebhookFormat) { return kWebhookFormatWords; }
constexpr std::span<const Word<TokenScope>> WordsOf(TokenScope) { return kTokenScopeWords; }
constexpr std::span<const Word<FeedChangeKind>> WordsOf(FeedChangeKind) { return kFeedChangeWords; }

// The word of a value.
template <typename Enum>
constexpr std::string_view WordOf(Enum value) {
  const auto words = WordsOf(Enum{});
  const auto index = static_cast<std::size_t>(value);
  return index < words.size() ? words[index].text : std::string_view("?");
}

// The value a word names; nothing for a word not in the table.
template <typename Enum>
std::optional<Enum> ValueOfWord(std::string_view text) {
  for (const Word<Enum>& word : WordsOf(Enum{})) {
    if (word.text == text) return word.value;
  }
  return std::nullopt;
}

// The words as a CHECK (column IN (...)) lists them: 'moderator', 'admin'.
template <typename Enum>
std::string SqlWordList() {
  std::string list;
  for (const Word<Enum>& word : WordsOf(Enum{})) {
    if (!list.empty()) list += ", ";
    list += "'" + std::string(word.text) + "'";
  }
  return list;
}

}  // namespace palisard
