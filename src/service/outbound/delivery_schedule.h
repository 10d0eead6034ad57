#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace palisard {

// When a webhook delivery is tried again, and when its endpoint is given
// up. Times are Unix seconds, as the store keeps them; nothing here reads
// a clock or a random generator.

// The first wait after a failure; each further failure doubles it, up to
// kLongestWait.
inline constexpr int64_t kFirstWait = 5;
inline constexpr int64_t kLongestWait = 4 * 3600;
// A delivery is retried for this long after its first attempt, then given
// up; an endpoint whose deliveries have all failed for this long since its
// first failure in a row is disabled. Receivers are down for a weekend at
// most, and then every event since is still delivered.
inline constexpr int64_t kRetryWindow = 3 * 24 * 3600;

// What an answer's status means for a delivery.
enum class DeliveryVerdict {
  kDelivered,  // 2xx
  kRetry,      // anything else, a redirect included (its target is not followed)
  kGone,       // 410: the receiver asks to be sent nothing more; the endpoint is disabled
};
DeliveryVerdict VerdictOf(long status);

// The wait an answer asks for, in whole seconds (rounded up), at most
// kLongestWait: the Retry-After header (seconds, or an HTTP date, counted
// from `now`), and in a 429 answer's JSON body Discord's "retry_after"
// (seconds, maybe fractional); the longer of the two. Nothing when neither
// says.
std::optional<int64_t> AskedWait(long status, std::string_view retryAfter, std::string_view body, int64_t now);

struct FailedAttempt {
  int64_t firstAttemptAt = 0;    // of this delivery
  int failures = 0;              // of this delivery so far, this one included (at least 1)
  int64_t at = 0;                // when this attempt failed
  std::optional<int64_t> asked;  // AskedWait of its answer
};

// When to try again: the back-off for this many failures, cut to between
// its half and all of it by `jitter` (in [0, 1)) so that deliveries that
// failed together spread out, and never sooner than the receiver asked.
// Nothing when the delivery's retry window is over.
std::optional<int64_t> NextAttemptAt(const FailedAttempt& failure, double jitter);

// Whether an endpoint that has failed every delivery since
// `firstFailureInRow` is disabled at `now`.
bool EndpointGivenUp(int64_t firstFailureInRow, int64_t now);

}  // namespace palisard
