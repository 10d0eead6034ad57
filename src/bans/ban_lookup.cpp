#include "bans/ban_lookup.h"

#include <utility>

namespace palisard {

BanServiceList::BanServiceList(BanService& service) : service_(service), worker_([this] { Work(); }) {}

BanServiceList::~BanServiceList() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  handed_.NotifyAll();
  worker_.join();
}

void BanServiceList::AskAbout(const std::vector<uint64_t>& presentIds) {
  // Most passes have nothing to ask: the worker is not woken for them.
  if (!service_.WouldAsk(presentIds, presentIds.size())) return;
  {
    MutexLock lock(mutex_);
    waiting_ = presentIds;
  }
  handed_.NotifyOne();
}

void BanServiceList::Work() {
  for (;;) {
    std::vector<uint64_t> ids;
    {
      MutexLock lock(mutex_);
      while (!waiting_ && !stopping_) handed_.Wait(mutex_);
      if (stopping_) return;
      ids = std::move(*waiting_);
      waiting_.reset();
    }
    // With every present id as the minimum, a request goes out only when
    // none of them has a fresh answer. A failure paces the next request
    // inside the service; nobody here waits for the outcome.
    const std::size_t present = ids.size();
    (void)service_.GetBanList(std::move(ids), present);
  }
}

}  // namespace palisard
