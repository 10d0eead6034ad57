#include "service/outbound/delivery_schedule.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "common/ascii_text.h"

namespace palisard {
namespace {

// Retry-After: a number of seconds, or an HTTP date (all three forms HTTP
// allows, as libcurl reads them).
std::optional<int64_t> HeaderWait(std::string_view header, int64_t now) {
  const std::string_view text = Trimmed(header);
  if (text.empty()) return std::nullopt;
  if (text.find_first_not_of("0123456789") == std::string_view::npos) {
    int64_t seconds = kLongestWait;
    const auto read = std::from_chars(text.data(), text.data() + text.size(), seconds);
    return read.ec == std::errc() ? seconds : kLongestWait;  // only an overflow fails here
  }
  const time_t date = curl_getdate(std::string(text).c_str(), nullptr);
  if (date == -1) return std::nullopt;
  return std::max<int64_t>(0, static_cast<int64_t>(date) - now);
}

// Discord's 429 body: {"message": ..., "retry_after": 0.35, "global": false}.
std::optional<int64_t> DiscordWait(std::string_view body) {
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (!json.is_object() || !json.contains("retry_after") || !json["retry_after"].is_number()) return std::nullopt;
  const double seconds = json["retry_after"].get<double>();
  if (!(seconds >= 0)) return std::nullopt;
  return static_cast<int64_t>(std::ceil(std::min(seconds, static_cast<double>(kLongestWait))));
}

}  // namespace

DeliveryVerdict VerdictOf(long status) {
  if (status >= 200 && status <= 299) return DeliveryVerdict::kDelivered;
  return status == 410 ? DeliveryVerdict::kGone : DeliveryVerdict::kRetry;
}

std::optional<int64_t> AskedWait(long status, std::string_view retryAfter, std::string_view body, int64_t now) {
  std::optional<int64_t> wait = HeaderWait(retryAfter, now);
  if (status == 429) {
    if (const std::optional<int64_t> discord = DiscordWait(body)) wait = std::max(wait.value_or(0), *discord);
  }
  if (wait) wait = std::min(*wait, kLongestWait);
  return wait;
}

std::optional<int64_t> NextAttemptAt(const FailedAttempt& failure, double jitter) {
  if (failure.at - failure.firstAttemptAt >= kRetryWindow) return std::nullopt;
  // 5 s doubled 12 times passes the longest wait already.
  const int doublings = std::clamp(failure.failures - 1, 0, 16);
  const int64_t backOff = std::min(kFirstWait << doublings, kLongestWait);
  const int64_t half = backOff / 2;
  const auto spread = static_cast<int64_t>(static_cast<double>(backOff - half) * std::clamp(jitter, 0.0, 1.0));
  return failure.at + std::max(half + spread, failure.asked.value_or(0));
}

bool EndpointGivenUp(int64_t firstFailureInRow, int64_t now) { return now - firstFailureInRow >= kRetryWindow; }

}  // namespace palisard
