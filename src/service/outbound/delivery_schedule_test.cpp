#include "service/outbound/delivery_schedule.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

constexpr int64_t kNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

TEST(DeliveryScheduleTest, ReadsTheWaitAnAnswerAsksFor) {
  const std::string discord = R"({"message": "You are being rate limited.", "retry_after": 6.2, "global": false})";
  const struct {
    long status;
    const char* retryAfter;
    std::string body;
    std::optional<int64_t> wait;
  } cases[] = {
      {503, "120", "", 120},
      {503, "Sun, 06 Nov 1994 08:51:07 GMT", "", 90},
      {503, "Sun, 06 Nov 1994 08:00:00 GMT", "", 0},  // past
      {503, "99999999999999999999", "", kLongestWait},
      {503, "soon", "", std::nullopt},
      {429, "", discord, 7},
      {429, "2", R"({"retry_after": 0.35})", 2},
      {429, "", R"({"retry_after": 1e300})", kLongestWait},
      {429, "", "<html>", std::nullopt},
      {500, "", discord, std::nullopt},  // only a 429 says it in its body
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AskedWait(c.status, c.retryAfter, c.body, kNow), c.wait) << c.status << " " << c.retryAfter << c.body;
  }
}

TEST(DeliveryScheduleTest, BacksOffWithJitterWithinTheWindow) {
  const struct {
    int failures;
    double jitter;
    std::optional<int64_t> asked;
    int64_t sinceFirst;
    std::optional<int64_t> wait;
  } cases[] = {
      {1, 0.0, {}, 0, 2},
      {1, 0.99, {}, 0, 4},
      {12, 0.0, {}, 0, 5120},
      {13, 0.99, {}, 0, kLongestWait - 72},
      {100000, 0.0, {}, 0, kLongestWait / 2},
      {1, 0.0, 60, 0, 60},  // the receiver asked for longer
      {3, 0.0, 1, 0, 10},   // or for less
      {30, 0.0, {}, kRetryWindow - 1, kLongestWait / 2},
      {30, 0.0, {}, kRetryWindow, std::nullopt},
  };
  for (const auto& c : cases) {
    const FailedAttempt failure{kNow - c.sinceFirst, c.failures, kNow, c.asked};
    const std::optional<int64_t> next = NextAttemptAt(failure, c.jitter);
    EXPECT_EQ(next ? std::optional(*next - kNow) : std::nullopt, c.wait) << c.failures << " " << c.jitter;
  }
  EXPECT_FALSE(EndpointGivenUp(kNow - kRetryWindow + 1, kNow));
  EXPECT_TRUE(EndpointGivenUp(kNow - kRetryWindow, kNow));
}

}  // namespace
}  // namespace palisard
