#include "service/feed_port.h"

#include <charconv>
#include <string_view>

#include "service/feed/feed_key_file.h"
#include "service/feed/feed_lines.h"
#include "service/http/error_answers.h"
#include "service/http/page_answers.h"
#include "service/values/base64_text.h"

namespace palisard {
namespace {

constexpr std::string_view kFeedPath = "/feed/v1";
constexpr std::string_view kPagesPath = "/feed/v1/pages/";
constexpr std::string_view kSignatureEnd = ".minisig";
// JSON lines, one change each.
constexpr const char* kPageType = "application/x-ndjson";

StoreReply Refused(Refusal refusal, const std::string& detail = "") {
  return {ErrorAnswer(refusal, Medium::kPlain, detail), Result::Ok()};
}

StoreReply StoreFailed(const Result& failure) {
  return {ErrorAnswer(Refusal::kCannotAnswerNow, Medium::kPlain), failure};
}

// The key is read at each request, on a store worker: a few hundred bytes,
// and a key made while the service runs is served without a restart.
std::optional<StoreReply> ReadKey(const std::string& path, FeedKey* key) {
  if (ReadFeedKey(path, key).ok()) return std::nullopt;
  return StoreReply{PlainAnswer(500, "the feed's signing key cannot be read"), Result::Ok()};
}

// Page K of "K" or "K.minisig"; nothing for any other name.
std::optional<int64_t> PageNumber(std::string_view name, bool* signature) {
  *signature = name.ends_with(kSignatureEnd);
  if (*signature) name.remove_suffix(kSignatureEnd.size());
  int64_t page = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), page);
  int64_t from = 0;
  int64_t to = 0;
  const bool canonical = !name.empty() && (name.size() == 1 || name[0] != '0');
  if (error != std::errc() || end != name.data() + name.size() || !canonical || !FeedPageRange(page, &from, &to)) {
    return std::nullopt;
  }
  return page;
}

bool Matches(const std::string& ifNoneMatch, const std::string& tag) {
  return ifNoneMatch.find(tag) != std::string::npos || ifNoneMatch == "*";
}

StoreReply Index(Store& store, const std::string& keyPath) {
  FeedKey key;
  if (auto refused = ReadKey(keyPath, &key)) return *refused;
  int64_t newest = 0;
  const Result read = store.FeedHead(&newest);
  if (!read.ok()) return StoreFailed(read);
  HttpAnswer answer = PlainAnswer(200, FeedIndex(newest, FeedPublicKey(key)));
  answer.contentType = "application/json";
  return {std::move(answer), Result::Ok()};
}

// What a page's request needs: copied into its store call.
struct PageRequest {
  std::string keyPath;
  FeedReasons reasons;
  std::string ifNoneMatch;
  int64_t page;
  bool signature;  // its .minisig
};

StoreReply Page(Store& store, const PageRequest& request) {
  const int64_t page = request.page;
  FeedKey key;
  if (auto refused = ReadKey(request.keyPath, &key)) return *refused;
  int64_t newest = 0;
  Result read = store.FeedHead(&newest);
  if (read.ok() && page > FeedLastPage(newest)) return Refused(Refusal::kNotFound, "the feed is not that long yet");
  int64_t from = 0;
  int64_t to = 0;
  FeedPageRange(page, &from, &to);
  std::vector<FeedChange> changes;
  if (read.ok()) read = store.FeedChanges(from, to, &changes);
  if (!read.ok()) return StoreFailed(read);
  const std::string text = FeedPage(changes, request.reasons);
  const std::string minisig =
      FeedSignature(key, text, "palisard feed page " + std::to_string(page) + ", changes from " + std::to_string(from));
  HttpAnswer answer = PlainAnswer(200, request.signature ? minisig : text);
  answer.headers.emplace_back("Cache-Control", "no-cache");
  if (request.signature) return {std::move(answer), Result::Ok()};
  const std::string tag = FeedPageTag(text);
  answer.contentType = kPageType;
  answer.headers.emplace_back("ETag", tag);
  answer.headers.emplace_back("Signature", Base64Text(minisig));
  if (Matches(request.ifNoneMatch, tag)) {
    answer.status = 304;
    answer.body.clear();
  }
  return {std::move(answer), Result::Ok()};
}

}  // namespace

bool IsFeedPath(const std::string& path) { return path == kFeedPath || path.starts_with(std::string(kFeedPath) + "/"); }

Routed RouteFeed(const HttpRequest& request, const ServeSettings& settings) {
  const std::string path = PathOf(request.target);
  if (settings.feedKey.empty()) {
    return ErrorAnswer(Refusal::kNotFound, Medium::kPlain, "this community publishes no shared ban feed");
  }
  bool signature = false;
  std::optional<int64_t> page;
  if (path.starts_with(kPagesPath)) page = PageNumber(std::string_view(path).substr(kPagesPath.size()), &signature);
  if (path != kFeedPath && !page) return ErrorAnswer(Refusal::kNotFound, Medium::kPlain);
  if (request.method != "GET") return NotAllowed(Medium::kPlain, "GET");
  if (!page) {
    return StoreCall([keyPath = settings.feedKey](Store& store, UnixTime) { return Index(store, keyPath); });
  }
  PageRequest call{settings.feedKey, settings.feedReasons, request.ifNoneMatch, *page, signature};
  return StoreCall([call = std::move(call)](Store& store, UnixTime) { return Page(store, call); });
}

}  // namespace palisard
