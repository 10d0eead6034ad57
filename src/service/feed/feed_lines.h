#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/store.h"

namespace palisard {

// The shared feed's format, in one home (docs/feed.md describes it): pages
// of JSON lines, one change each, page K holding the changes numbered
// K×kFeedPageSize+1 to K×kFeedPageSize+kFeedPageSize.
inline constexpr int64_t kFeedPageSize = 1000;
// A reason's first line is published cut to this many characters.
inline constexpr std::size_t kFeedReasonCharacters = 200;

// How much of a ban's reason the feed publishes (the setting feed-reasons).
enum class FeedReasons { kFirstLine, kFull, kNone };
// The value of a word of the setting: "first-line", "full", "none".
std::optional<FeedReasons> FeedReasonsOf(std::string_view word);
std::string_view FeedReasonsWord(FeedReasons reasons);

// The numbers page `page` holds; false for a page number no feed reaches.
bool FeedPageRange(int64_t page, int64_t* from, int64_t* to);
// The newest page: the one the newest change is on (0 for an empty feed).
int64_t FeedLastPage(int64_t newest);

// One change as its line, without the newline.
std::string FeedLine(const FeedChange& change, FeedReasons reasons);
// The changes' lines, each ended by a newline.
std::string FeedPage(const std::vector<FeedChange>& changes, FeedReasons reasons);
// What GET /feed/v1 answers: the newest number, the page size and the
// public key line.
std::string FeedIndex(int64_t newest, const std::string& publicKey);

}  // namespace palisard
