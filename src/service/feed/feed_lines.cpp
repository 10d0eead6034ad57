#include "service/feed/feed_lines.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "common/utc_time.h"
#include "common/utf8.h"
#include "store/ban_json.h"

namespace palisard {
namespace {

using Line = nlohmann::ordered_json;

Line PublishedReason(const std::string& reason, FeedReasons reasons) {
  switch (reasons) {
    case FeedReasons::kFull:
      return reason;
    case FeedReasons::kFirstLine:
      return Utf8Prefix(std::string_view(reason).substr(0, reason.find('\n')), kFeedReasonCharacters);
    case FeedReasons::kNone:
      break;
  }
  return nullptr;
}

}  // namespace

constexpr std::pair<FeedReasons, std::string_view> kFeedReasonsWords[] = {
    {FeedReasons::kFirstLine, "first-line"}, {FeedReasons::kFull, "full"}, {FeedReasons::kNone, "none"}};

std::optional<FeedReasons> FeedReasonsOf(std::string_view word) {
  for (const auto& [reasons, text] : kFeedReasonsWords) {
    if (word == text) return reasons;
  }
  return std::nullopt;
}

std::string_view FeedReasonsWord(FeedReasons reasons) { return kFeedReasonsWords[static_cast<int>(reasons)].second; }

bool FeedPageRange(int64_t page, int64_t* from, int64_t* to) {
  if (page < 0 || page > (INT64_MAX - kFeedPageSize) / kFeedPageSize) return false;
  *from = page * kFeedPageSize + 1;
  *to = page * kFeedPageSize + kFeedPageSize;
  return true;
}

int64_t FeedLastPage(int64_t newest) { return newest <= 0 ? 0 : (newest - 1) / kFeedPageSize; }

// A lift publishes the lift's reason: the line tells the change. The keys
// stay in the order docs/feed.md gives them.
std::string FeedLine(const FeedChange& change, FeedReasons reasons) {
  const Ban& ban = change.ban;
  const bool lifted = change.change == FeedChangeKind::kLifted;
  const std::string& reason = lifted && ban.lift ? ban.lift->reason : ban.reason;
  const Line line = {
      {"seq", change.seq},
      {"change", std::string(WordOf(change.change))},
      {"ref", ban.ref},
      {"playerId", std::to_string(ban.playerId)},
      {"at", FormatUtcTime(change.at)},
      {"until", ban.until ? Line(FormatUtcTime(*ban.until)) : Line()},
      {"reason", PublishedReason(reason, reasons)},
  };
  return line.dump(-1, ' ', false, Line::error_handler_t::replace);
}

std::string FeedPage(const std::vector<FeedChange>& changes, FeedReasons reasons) {
  std::string page;
  for (const FeedChange& change : changes) page += FeedLine(change, reasons) + "\n";
  return page;
}

std::string FeedIndex(int64_t newest, const std::string& publicKey) {
  return JsonText({{"newest", newest}, {"pageSize", kFeedPageSize}, {"key", publicKey}});
}

}  // namespace palisard
