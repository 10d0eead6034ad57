#include "service/outbound/delivery_worker.h"

#include <algorithm>
#include <utility>

#include "common/console_output.h"
#include "service/outbound/delivery_schedule.h"
#include "service/outbound/webhook_formats.h"
#include "service/outbound/webhook_signature.h"

namespace palisard {
namespace {

std::string StatusText(long status) { return "the receiver answered " + std::to_string(status); }

}  // namespace

Result DeliveryRequest(const Delivery& delivery, std::string_view publicUrl, UnixTime now, OutboundRequest* request) {
  WebhookEvent event{delivery.event.type, delivery.event.id, delivery.event.at,
                     nlohmann::json::parse(delivery.event.data, nullptr, false)};
  if (!event.data.is_object()) return Result::Invalid("the event's data is not a JSON object");
  *request = OutboundRequest{};
  request->url = delivery.endpoint.url;
  if (delivery.endpoint.format == WebhookFormat::kDiscord) {
    request->body = DiscordWebhookBody(event, publicUrl);
    request->headers = {{"Content-Type", "application/json"}};
    return Result::Ok();
  }
  std::string key;
  Result secret = ParseWebhookSecret(delivery.endpoint.secret, &key);
  if (!secret.ok()) return Result::Invalid("the endpoint's secret cannot be read: " + secret.text());
  request->body = StandardWebhookBody(event);
  request->headers = SignedWebhookHeaders(key, event.id, now, request->body);
  return Result::Ok();
}

DeliveryOutcome OutcomeOf(const Delivery& delivery, const Result& sent, const OutboundAnswer& answer, UnixTime now,
                          double jitter) {
  DeliveryOutcome outcome;
  if (sent.ok()) {
    outcome.status = static_cast<int>(answer.status);
    switch (VerdictOf(answer.status)) {
      case DeliveryVerdict::kDelivered:
        outcome.delivered = true;
        return outcome;
      case DeliveryVerdict::kGone:
        outcome.error = StatusText(answer.status);
        outcome.disableEndpoint = true;
        outcome.disableWhy = "the receiver answered 410 Gone: it wants no more deliveries";
        return outcome;
      case DeliveryVerdict::kRetry:
        outcome.error = StatusText(answer.status);
        break;
    }
  } else {
    outcome.error = sent.text().empty() ? "no answer" : sent.text();
    if (sent.kind() == Result::Kind::kInvalid) return outcome;  // the same every time: given up
  }
  std::optional<int64_t> asked;
  if (sent.ok()) asked = AskedWait(answer.status, answer.Header("retry-after").value_or(""), answer.body, now);
  const UnixTime first = delivery.firstAttemptAt != 0 ? delivery.firstAttemptAt : now;
  outcome.nextAt = NextAttemptAt({first, delivery.attempts + 1, now, asked}, jitter);
  const std::optional<UnixTime>& failingSince = delivery.endpoint.failingSince;
  if (failingSince && EndpointGivenUp(*failingSince, now)) {
    outcome.disableEndpoint = true;
    outcome.disableWhy = "every delivery failed for three days; the last: " + outcome.error;
  }
  return outcome;
}

DeliveryWorker::DeliveryWorker(DeliverySettings settings, DeliveryDesk& desk, OutboundSender send, const Clock& clock)
    : settings_(std::move(settings)), desk_(desk), send_(std::move(send)), clock_(clock) {
  {
    MutexLock lock(mutex_);
    random_.seed(std::random_device()());
  }
  threads_.emplace_back([this] { Claim(); });
  for (std::size_t i = 0; i < settings_.atOnce; ++i) threads_.emplace_back([this] { Send(); });
}

DeliveryWorker::~DeliveryWorker() {
  Stop();
  for (std::thread& thread : threads_) thread.join();
}

void DeliveryWorker::Stop() {
  MutexLock lock(mutex_);
  stopping_ = true;
  changed_.NotifyAll();
}

void DeliveryWorker::Claim() {
  // A lease in whole seconds beyond the exchange's limit, so that no other
  // instance sends a delivery while this one may still be sending it.
  const auto exchange = std::chrono::ceil<std::chrono::seconds>(settings_.outbound.limits.total);
  const UnixTime lease = (exchange + kClaimBeyondExchange).count();
  for (std::size_t room; (room = WaitForRoom()) != 0;) {
    std::vector<Delivery> due;
    Result claimed = desk_.Claim(clock_.UnixSeconds(), lease, room, &due);
    Told(claimed, "claim webhook deliveries");
    if (claimed.ok() && !due.empty()) {
      MutexLock lock(mutex_);
      held_ += due.size();
      for (Delivery& delivery : due) claimed_.push_back(std::move(delivery));
      changed_.NotifyAll();
    }
    // All that was due is under way: look again after the poll interval.
    if ((!claimed.ok() || due.size() < room) && !Pause(settings_.poll)) return;
  }
}

void DeliveryWorker::Send() {
  Delivery delivery;
  while (Take(&delivery)) {
    Attempt(delivery);
    MutexLock lock(mutex_);
    --held_;
    changed_.NotifyAll();
  }
}

std::size_t DeliveryWorker::WaitForRoom() {
  MutexLock lock(mutex_);
  while (!stopping_ && held_ >= settings_.atOnce) changed_.Wait(mutex_);
  return stopping_ ? 0 : settings_.atOnce - held_;
}

bool DeliveryWorker::Pause(std::chrono::milliseconds pause) {
  const Deadline until(clock_, pause);
  MutexLock lock(mutex_);
  while (!stopping_ && !until.Passed()) changed_.WaitFor(mutex_, clock_.LongestSleep(until.Remaining()));
  return !stopping_;
}

bool DeliveryWorker::Take(Delivery* delivery) {
  MutexLock lock(mutex_);
  // Claimed but not begun when stopping: their claims run out and another
  // instance, or this one started again, sends them.
  while (!stopping_ && claimed_.empty()) changed_.Wait(mutex_);
  if (stopping_) return false;
  *delivery = std::move(claimed_.front());
  claimed_.pop_front();
  return true;
}

void DeliveryWorker::Attempt(const Delivery& delivery) {
  OutboundRequest request;
  OutboundAnswer answer;
  Result sent = DeliveryRequest(delivery, settings_.publicUrl, clock_.UnixSeconds(), &request);
  if (sent.ok()) sent = send_(request, settings_.outbound, &answer);
  const DeliveryOutcome outcome = OutcomeOf(delivery, sent, answer, clock_.UnixSeconds(), Jitter());
  Result finished = desk_.Finish(delivery, outcome, clock_.UnixSeconds());
  // Gone meanwhile: its endpoint was removed.
  if (finished.kind() == Result::Kind::kNotFound) finished = Result::Ok();
  Told(finished, "record a webhook delivery");
}

void DeliveryWorker::Told(const Result& stored, const char* what) {
  // No connection: the store workers say so, for every call.
  if (stored.kind() == Result::Kind::kUnavailable) return;
  MutexLock lock(mutex_);
  if (stored.ok() == !failing_) return;
  failing_ = !stored.ok();
  if (failing_) {
    Print("palisard-service: webhooks: cannot %s: %s\n", what, stored.text().c_str());
  } else {
    Print("palisard-service: webhooks: the store answers again\n");
  }
}

double DeliveryWorker::Jitter() {
  MutexLock lock(mutex_);
  return std::uniform_real_distribution<double>(0.0, 1.0)(random_);
}

}  // namespace palisard
