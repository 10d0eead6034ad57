#include "store/record_words.h"

namespace palisard {
namespace {

// Every value in its place, so that WordOf finds a value's word by its number.
template <typename Enum, std::size_t size>
constexpr bool InValueOrder(const Word<Enum> (&words)[size]) {
  for (std::size_t i = 0; i < size; ++i) {
    if (static_cast<std::size_t>(words[i].value) != i) return false;
  }
  return true;
}

constexpr Word<ModeratorRole> kRoles[] = {
    {ModeratorRole::kModerator, "moderator"},
    {ModeratorRole::kAdmin, "admin"},
};
constexpr Word<MuteKind> kMuteKinds[] = {
    {MuteKind::kReporter, "reporter"},
    {MuteKind::kNetwork, "network"},
};
constexpr Word<CaseDecision> kCaseDecisions[] = {
    {CaseDecision::kBanned, "banned"},
    {CaseDecision::kDismissed, "dismissed"},
};
constexpr Word<AppealDecision> kAppealDecisions[] = {
    {AppealDecision::kGranted, "granted"},
    {AppealDecision::kRejected, "rejected"},
};
constexpr Word<AuditAction> kAuditActions[] = {
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
};
// The refusals' audit lines name the verdict as their subject.
constexpr Word<ReportVerdict> kReportVerdicts[] = {
    {ReportVerdict::kRecorded, "recorded"},         {ReportVerdict::kNetworkLimit, "network limit"},
    {ReportVerdict::kPairLimit, "pair limit"},      {ReportVerdict::kReportedLimit, "reported limit"},
    {ReportVerdict::kInvalid, "invalid"},           {ReportVerdict::kMuted, "muted"},
};
constexpr Word<AppealVerdict> kAppealVerdicts[] = {
    {AppealVerdict::kRecorded, "recorded"},         {AppealVerdict::kNotBanned, "not banned"},
    {AppealVerdict::kOpenAlready, "open already"},  {AppealVerdict::kNetworkLimit, "network limit"},
    {AppealVerdict::kServiceLimit, "service limit"},
};

static_assert(InValueOrder(kRoles) && InValueOrder(kMuteKinds) && InValueOrder(kCaseDecisions) &&
              InValueOrder(kAppealDecisions) && InValueOrder(kAuditActions) && InValueOrder(kReportVerdicts) &&
              InValueOrder(kAppealVerdicts));

}  // namespace

template <>
std::span<const Word<ModeratorRole>> WordsOf() {
  return kRoles;
}
template <>
std::span<const Word<MuteKind>> WordsOf() {
  return kMuteKinds;
}
template <>
std::span<const Word<CaseDecision>> WordsOf() {
  return kCaseDecisions;
}
template <>
std::span<const Word<AppealDecision>> WordsOf() {
  return kAppealDecisions;
}
template <>
std::span<const Word<AuditAction>> WordsOf() {
  return kAuditActions;
}
template <>
std::span<const Word<ReportVerdict>> WordsOf() {
  return kReportVerdicts;
}
template <>
std::span<const Word<AppealVerdict>> WordsOf() {
  return kAppealVerdicts;
}

}  // namespace palisard
