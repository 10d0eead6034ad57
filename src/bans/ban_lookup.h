#pragma once

#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "bans/ban_service.h"
#include "common/mutex.h"

namespace palisard {

// The ban service as the hosting copy's duties use it.
class BanList {
 public:
  virtual ~BanList() = default;
  virtual bool Streaming() const = 0;
  // Asks about the present players; answers land in the list.
  virtual void AskAbout(const std::vector<uint64_t>& presentIds) = 0;
  // What is known of the id, stale or not; nothing when unknown.
  virtual std::optional<bool> IsBanned(uint64_t communityId) const = 0;
};

// The ban service behind the BanList seam: one request for all present
// players once every answer has gone stale, about once a minute. The
// exchanges run on a worker thread of its own, so a slow or silent service
// never holds up the watcher: AskAbout hands over the ids and returns, the
// answers land in the service's cache, and a later pass finds them there.
//
// Thread-safe. The destructor waits for the exchange in flight (bounded by
// the service's limits); the program's one instance is never destroyed.
class BanServiceList final : public BanList {
 public:
  explicit BanServiceList(BanService& service);
  ~BanServiceList() override;
  BanServiceList(const BanServiceList&) = delete;
  BanServiceList& operator=(const BanServiceList&) = delete;

  bool Streaming() const override { return service_.streaming; }
  // Only the latest ids wait: ids handed over while an exchange runs
  // replace those handed over before.
  void AskAbout(const std::vector<uint64_t>& presentIds) override LOCKS_EXCLUDED(mutex_);
  std::optional<bool> IsBanned(uint64_t communityId) const override { return service_.IsBanned(communityId); }

 private:
  void Work() LOCKS_EXCLUDED(mutex_);

  BanService& service_;
  Mutex mutex_;
  CondVar handed_;
  std::optional<std::vector<uint64_t>> waiting_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread worker_;  // last: it runs Work on the members above
};

}  // namespace palisard
