#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace palisard {

// The words the store writes into its records for the values of its enums:
// one table for each enum, which the store writes and reads by, the
// schema's CHECK lists are made of, and the pages and the command line show.
//
// A word once written stays in databases: never change one. A new value
// needs a new migration that lets the databases made before take its word.

enum class ModeratorRole { kModerator, kAdmin };

// A reporter id or a source network whose reports are refused (and
// counted, as ReportVerdict::kMuted).
enum class MuteKind { kReporter, kNetwork };

// How a case of reports is closed.
enum class CaseDecision { kBanned, kDismissed };

// How an appeal is closed: granted when the ban is lifted.
enum class AppealDecision { kGranted, kRejected };

// What an audit line records. The refusals (the last four) are counted per
// window and folded into a few lines each (see Store::Prune).
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
};

// Why a report was or was not recorded. Refusals are counted (see
// Prune), never stored as reports. kInvalid: an id is 0, or a player
// reports himself. kMuted: a moderator muted the reporter id or the source
// network.
enum class ReportVerdict { kRecorded, kNetworkLimit, kPairLimit, kReportedLimit, kInvalid, kMuted };

// kRecorded, or why not: no ban of the player is in force, an appeal of his
// from the same network is open already, or the network's or everyone's
// bucket is empty.
enum class AppealVerdict { kRecorded, kNotBanned, kOpenAlready, kNetworkLimit, kServiceLimit };

template <typename Enum>
struct Word {
  Enum value;
  std::string_view text;
};

// The table of an enum, in the order of its values (checked at compile time).
template <typename Enum>
std::span<const Word<Enum>> WordsOf();
template <>
std::span<const Word<ModeratorRole>> WordsOf();
template <>
std::span<const Word<MuteKind>> WordsOf();
template <>
std::span<const Word<CaseDecision>> WordsOf();
template <>
std::span<const Word<AppealDecision>> WordsOf();
template <>
std::span<const Word<AuditAction>> WordsOf();
template <>
std::span<const Word<ReportVerdict>> WordsOf();
template <>
std::span<const Word<AppealVerdict>> WordsOf();

// The word of a value.
template <typename Enum>
std::string_view WordOf(Enum value) {
  const auto words = WordsOf<Enum>();
  const auto index = static_cast<std::size_t>(value);
  return index < words.size() ? words[index].text : std::string_view("?");
}

// The value a word names; nothing for a word not in the table.
template <typename Enum>
std::optional<Enum> ValueOfWord(std::string_view text) {
  for (const Word<Enum>& word : WordsOf<Enum>()) {
    if (word.text == text) return word.value;
  }
  return std::nullopt;
}

// The words as a CHECK (column IN (...)) lists them: 'moderator', 'admin'.
template <typename Enum>
std::string SqlWordList() {
  std::string list;
  for (const Word<Enum>& word : WordsOf<Enum>()) {
    if (!list.empty()) list += ", ";
    list += "'" + std::string(word.text) + "'";
  }
  return list;
}

}  // namespace palisard
