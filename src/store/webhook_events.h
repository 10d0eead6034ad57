#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace palisard {

// The events the service sends to webhooks, and the fields of each one's
// `data`: the one list that the store writes events by (with the changes
// that cause them), and that the formats, the event filters of endpoints
// and docs/webhooks.md follow.

// What a field holds, which says how a chat message shows it.
enum class EventFieldKind {
  kPlayer,   // a player's id: a decimal string (no JSON reader rounds it)
  kNumber,   // a count or a row's id: a JSON number
  kWritten,  // a text a person wrote (a reason): shown as plain text, never markup
  kLetter,   // a long text a player wrote (an appeal): the same, as the message's body
  kActor,    // who did it: "cli:alice", a moderator's account, "import"
  kLabel,    // a short text the service keeps (a ban's ref, a source)
  kTime,     // a UTC time, "2024-05-01T12:00:00Z"; null for never
  kSeconds,  // a length of time in seconds; null for permanent
};

struct EventField {
  std::string_view key;  // in `data`
  EventFieldKind kind;
  std::string_view label;  // what a chat message calls it
};

struct EventType {
  std::string_view name;   // the event's `type`
  std::string_view title;  // a chat message's title
  uint32_t color;          // and its colour, 0xRRGGBB
  std::span<const EventField> fields;
};

inline constexpr EventField kCaseFields[] = {
    {"caseId", EventFieldKind::kNumber, "Case"},
    {"playerId", EventFieldKind::kPlayer, "Player"},
    {"reports", EventFieldKind::kNumber, "Reports"},
    {"networks", EventFieldKind::kNumber, "Networks"},
};
inline constexpr EventField kCaseThresholdFields[] = {
    {"caseId", EventFieldKind::kNumber, "Case"},
    {"playerId", EventFieldKind::kPlayer, "Player"},
    {"reports", EventFieldKind::kNumber, "Reports"},
    {"networks", EventFieldKind::kNumber, "Networks"},    // reached the threshold with this report
    {"threshold", EventFieldKind::kNumber, "Threshold"},  // the setting, as it was then
};
inline constexpr EventField kBanCreatedFields[] = {
    {"ref", EventFieldKind::kLabel, "Ban"},
    {"playerId", EventFieldKind::kPlayer, "Player"},
    {"by", EventFieldKind::kActor, "By"},
    {"durationSeconds", EventFieldKind::kSeconds, "Duration"},
    {"until", EventFieldKind::kTime, "Until"},
    {"reports", EventFieldKind::kNumber, "Reports"},    // of the case the ban closed; 0 for none
    {"networks", EventFieldKind::kNumber, "Networks"},  // likewise
    {"reason", EventFieldKind::kWritten, "Reason"},
};
inline constexpr EventField kBanLiftedFields[] = {
    {"ref", EventFieldKind::kLabel, "Ban"},
    {"playerId", EventFieldKind::kPlayer, "Player"},
    {"by", EventFieldKind::kActor, "By"},
    {"reason", EventFieldKind::kWritten, "Reason"},
};
inline constexpr EventField kCaseDismissedFields[] = {
    {"caseId", EventFieldKind::kNumber, "Case"},
    {"playerId", EventFieldKind::kPlayer, "Player"},
    {"by", EventFieldKind::kActor, "By"},
    {"reports", EventFieldKind::kNumber, "Reports"},
    {"networks", EventFieldKind::kNumber, "Networks"},
    {"reason", EventFieldKind::kWritten, "Reason"},
};
inline constexpr EventField kAppealFields[] = {
    {"appealId", EventFieldKind::kNumber, "Appeal"},
    {"playerId", EventFieldKind::kPlayer, "Player"},
    {"text", EventFieldKind::kLetter, "Appeal"},
};
inline constexpr EventField kImportFields[] = {
    {"source", EventFieldKind::kLabel, "Source"},  // "import", or a followed community's name
    {"by", EventFieldKind::kActor, "By"},
    {"added", EventFieldKind::kNumber, "Bans added"},
    {"lifted", EventFieldKind::kNumber, "Bans lifted"},
};

inline constexpr EventType kEventTypes[] = {
    {"case.opened", "Case opened", 0xf1c40f, kCaseFields},
    {"case.threshold", "Case reached the threshold", 0xe67e22, kCaseThresholdFields},
    {"ban.created", "Player banned", 0xc0392b, kBanCreatedFields},
    {"ban.lifted", "Ban lifted", 0x27ae60, kBanLiftedFields},
    {"case.dismissed", "Case dismissed", 0x95a5a6, kCaseDismissedFields},
    {"appeal.filed", "Appeal filed", 0x3498db, kAppealFields},
    {"bans.imported", "Bans imported", 0x8e44ad, kImportFields},
};

// The type named `name`, or nullptr.
inline const EventType* FindEventType(std::string_view name) {
  for (const EventType& type : kEventTypes) {
    if (type.name == name) return &type;
  }
  return nullptr;
}

}  // namespace palisard
