#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "common/result.h"
#include "service/outbound/http_client.h"
#include "store/store.h"

namespace palisard {

// What the delivery worker needs of the store: the server runs these on a
// store worker of their own. Each blocks until the store answered.
// Thread-safe.
class DeliveryDesk {
 public:
  virtual ~DeliveryDesk() = default;
  virtual Result Claim(UnixTime now, UnixTime lease, std::size_t limit, std::vector<Delivery>* deliveries) = 0;
  virtual Result Finish(const Delivery& delivery, const DeliveryOutcome& outcome, UnixTime now) = 0;
};

// Attempts to one endpoint under way at once, in all instances: fewer than
// a worker's, so that one slow receiver's backlog leaves room for others.
inline constexpr std::size_t kAttemptsPerEndpoint = 2;

// Sends one request: SendOutboundRequest in the service. Thread-safe.
using OutboundSender =
    std::function<Result(const OutboundRequest& request, const OutboundSettings& settings, OutboundAnswer* answer)>;

struct DeliverySettings {
  OutboundSettings outbound;
  std::string publicUrl;  // the public player pages' base, for Discord's links
  // Attempts under way at once, so that a slow receiver holds one of them.
  std::size_t atOnce = 4;
  // How soon deliveries that became due (retries, events written by
  // another instance or the command line) are seen when nothing else wakes
  // the worker.
  std::chrono::milliseconds poll{1000};
};

// A claim lasts the whole exchange's limit and this much more (the store
// calls around it), so that no other instance sends it meanwhile; after an
// instance died, its claims are sent again once this passed.
inline constexpr std::chrono::seconds kClaimBeyondExchange{45};

// The request of one attempt at `now`: the event in its endpoint's format,
// signed for the standard one (the event's id as webhook-id on every
// attempt). kInvalid when it cannot be made (a secret or data that cannot
// be read).
Result DeliveryRequest(const Delivery& delivery, std::string_view publicUrl, UnixTime now, OutboundRequest* request);

// What an attempt came to, for FinishDelivery: `sent` and `answer` as
// SendOutboundRequest left them, `now` when it ended, `jitter` in [0, 1).
// A 2xx is delivered; 410 disables the endpoint; anything else is tried
// again on the schedule (never sooner than the receiver asked), or given
// up after the retry window, and disables the endpoint when it has failed
// every delivery for that long. A request that cannot be made or sent
// (kInvalid) is given up at once.
DeliveryOutcome OutcomeOf(const Delivery& delivery, const Result& sent, const OutboundAnswer& answer, UnixTime now,
                          double jitter);

// One an instance: claims due deliveries, sends each (settings.atOnce at
// once, on threads of its own, never a request's), and records how each
// went. Its times are on `clock`; `desk` and `clock` outlive it.
class DeliveryWorker {
 public:
  DeliveryWorker(DeliverySettings settings, DeliveryDesk& desk, OutboundSender send, const Clock& clock);
  // Stops and joins the threads: the attempts under way end first, within
  // their limits.
  ~DeliveryWorker();
  DeliveryWorker(const DeliveryWorker&) = delete;
  DeliveryWorker& operator=(const DeliveryWorker&) = delete;

  // Claims no more; the attempts under way go on to their end. Thread-safe.
  void Stop();

 private:
  void Claim();
  void Send();
  // Until a claim has room; 0 when stopping.
  std::size_t WaitForRoom();
  // For `pause` on the clock, or until stopping; false when stopping.
  bool Pause(std::chrono::milliseconds pause);
  // The next claimed delivery to send; false when stopping.
  bool Take(Delivery* delivery);
  void Attempt(const Delivery& delivery);
  // A store call failed (told once until one succeeds; a lost connection
  // the store workers tell), or succeeded.
  void Told(const Result& stored, const char* what);
  double Jitter();

  const DeliverySettings settings_;
  DeliveryDesk& desk_;
  const OutboundSender send_;
  const Clock& clock_;
  Mutex mutex_;
  CondVar changed_;                                  // a delivery was claimed or finished, or stopping
  std::deque<Delivery> claimed_ GUARDED_BY(mutex_);  // not yet taken by a sender
  std::size_t held_ GUARDED_BY(mutex_) = 0;          // claimed and not finished
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool failing_ GUARDED_BY(mutex_) = false;  // the last store call failed, and the log said so
  std::mt19937_64 random_ GUARDED_BY(mutex_);
  std::vector<std::thread> threads_;
};

}  // namespace palisard
