#include "service/outbound/delivery_worker.h"

#include <gtest/gtest.h>

#include <thread>

#include "helpers/fake_clock.h"
#include "service/outbound/delivery_schedule.h"

namespace palisard {
namespace {

constexpr UnixTime kNow = 1'714'564'800;
constexpr char kSecret[] = "whsec_MfKQ9r8GKYqrTwjUPD8ILPZIo2LaLaSw";

Delivery MakeDelivery(int64_t row, WebhookFormat format) {
  Delivery delivery;
  delivery.event = {row, "msg_" + std::to_string(row), "ban.created", kNow - 60,
                    R"({"playerId":"76561197960287930","reason":"@everyone"})"};
  delivery.endpoint.id = row * 10;
  delivery.endpoint.format = format;
  delivery.endpoint.url = "https://receiver.test/" + std::to_string(row);
  if (format == WebhookFormat::kStandard) delivery.endpoint.secret = kSecret;
  return delivery;
}

TEST(DeliveryWorkerTest, AnAttemptsResultBecomesItsOutcome) {
  const auto answered = [](long status, HeaderList headers = {}, std::string body = {}) {
    OutboundAnswer answer;
    answer.status = status;
    answer.headers = std::move(headers);
    answer.body = std::move(body);
    return answer;
  };
  Delivery fresh = MakeDelivery(1, WebhookFormat::kStandard);
  Delivery old = fresh;  // first tried when the retry window began
  old.attempts = 30;
  old.firstAttemptAt = kNow - kRetryWindow;
  Delivery failing = fresh;  // its endpoint has failed everything for as long
  failing.attempts = 3;
  failing.firstAttemptAt = kNow - 100;
  failing.endpoint.failingSince = kNow - kRetryWindow;

  const struct {
    const char* what;
    const Delivery& delivery;
    Result sent;
    OutboundAnswer answer;
    bool delivered;
    std::optional<UnixTime> nextAt;  // with no jitter
    bool disabled;
  } cases[] = {
      {"2xx", fresh, Result::Ok(), answered(204), true, std::nullopt, false},
      {"410", fresh, Result::Ok(), answered(410), false, std::nullopt, true},
      // The first failure waits half of 5 s; a delivery never tried counts from now.
      {"500", fresh, Result::Ok(), answered(500), false, kNow + kFirstWait / 2, false},
      {"no answer", fresh, Result::Failure(Result::Kind::kTimedOut, 0, "timed out"), {}, false, kNow + 2, false},
      {"Retry-After", fresh, Result::Ok(), answered(503, {{"retry-after", "120"}}), false, kNow + 120, false},
      {"Discord's 429", fresh, Result::Ok(), answered(429, {}, R"({"retry_after": 7.5})"), false, kNow + 8, false},
      {"cannot be sent", fresh, Result::Invalid("bad scheme"), {}, false, std::nullopt, false},
      {"window over", old, Result::Ok(), answered(500), false, std::nullopt, false},
      {"three days failing", failing, Result::Ok(), answered(500), false, kNow + 20, true},
  };
  for (const auto& c : cases) {
    const DeliveryOutcome outcome = OutcomeOf(c.delivery, c.sent, c.answer, kNow, 0.0);
    EXPECT_EQ(outcome.delivered, c.delivered) << c.what;
    EXPECT_EQ(outcome.nextAt, c.nextAt) << c.what;
    EXPECT_EQ(outcome.disableEndpoint, c.disabled) << c.what;
    EXPECT_EQ(outcome.disableWhy.empty(), !c.disabled) << c.what;
    EXPECT_EQ(outcome.error.empty(), c.delivered) << c.what;
    EXPECT_EQ(outcome.status.has_value(), c.sent.ok()) << c.what;
  }
}

// Hands out the deliveries it holds, at most as many as asked, and keeps
// what each came to.
class FakeDesk final : public DeliveryDesk {
 public:
  explicit FakeDesk(std::vector<Delivery> due) : due_(std::move(due)) {}
  Result Claim(UnixTime, UnixTime lease, std::size_t limit, std::vector<Delivery>* deliveries) override {
    MutexLock lock(mutex_);
    leases_.push_back(lease);
    limits_.push_back(limit);
    while (!due_.empty() && deliveries->size() < limit) {
      deliveries->push_back(due_.front());
      due_.erase(due_.begin());
    }
    return Result::Ok();
  }
  Result Finish(const Delivery& delivery, const DeliveryOutcome& outcome, UnixTime) override {
    MutexLock lock(mutex_);
    finished_.emplace_back(delivery.event.id, outcome);
    return Result::Ok();
  }
  std::size_t Finished() {
    MutexLock lock(mutex_);
    return finished_.size();
  }

  Mutex mutex_;
  std::vector<Delivery> due_ GUARDED_BY(mutex_);
  std::vector<UnixTime> leases_ GUARDED_BY(mutex_);
  std::vector<std::size_t> limits_ GUARDED_BY(mutex_);
  std::vector<std::pair<std::string, DeliveryOutcome>> finished_ GUARDED_BY(mutex_);
};

// The formats and signatures on the wire are the system test's
// (WebhookTest), checked by the receivers' own libraries.
TEST(DeliveryWorkerTest, ClaimsWhatItHasRoomForAndRecordsEachAttempt) {
  FakeDesk desk({MakeDelivery(1, WebhookFormat::kStandard), MakeDelivery(2, WebhookFormat::kDiscord),
                 MakeDelivery(3, WebhookFormat::kStandard)});
  FakeClock clock(1'000'000, kNow);
  const OutboundSender send = [](const OutboundRequest& request, const OutboundSettings&, OutboundAnswer* answer) {
    answer->status = request.url.ends_with("/3") ? 500 : 204;
    return Result::Ok();
  };
  DeliverySettings settings;
  settings.atOnce = 2;
  {
    DeliveryWorker worker(settings, desk, send, clock);
    for (int i = 0; i < 5000 && desk.Finished() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  MutexLock lock(desk.mutex_);
  ASSERT_EQ(desk.finished_.size(), 3u);
  for (std::size_t limit : desk.limits_) EXPECT_LE(limit, 2u);
  for (UnixTime lease : desk.leases_) EXPECT_GT(lease, 15);  // beyond the exchange's limit
  for (const auto& [id, outcome] : desk.finished_) EXPECT_EQ(outcome.delivered, id != "msg_3") << id;
}

}  // namespace
}  // namespace palisard
