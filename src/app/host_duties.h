#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bans/ban_service.h"
#include "common/clock.h"
#include "firewall/firewall.h"
#include "game/game_watcher.h"
#include "game/match_state.h"

namespace palisard {

// The ban service as the hosting duties use it.
class BanList {
 public:
  virtual ~BanList() = default;
  virtual bool Streaming() const = 0;
  // Asks about the present players; answers land in the list.
  virtual void AskAbout(const std::vector<uint64_t>& presentIds) = 0;
  // What is known of the id, stale or not; nothing when unknown.
  virtual std::optional<bool> IsBanned(uint64_t communityId) const = 0;
};

// The firewall as the hosting duties use it.
class Blocker {
 public:
  virtual ~Blocker() = default;
  // A player already blocked is left as is.
  virtual void Block(uint32_t address, uint64_t communityId) = 0;
  virtual void RemoveExpiredBlocks() = 0;
  virtual void ClearBlocks() = 0;
};

// What the hosting copy does on each pass of the watcher: block voted-out
// and banned players (never the host for a ban), and lift blocks once they
// expire. Runs on the watcher's thread.
class HostDuties final : public PassObserver {
 public:
  HostDuties(MatchState& state, BanList& bans, Blocker& blocker) : state_(state), bans_(bans), blocker_(blocker) {}

  void AfterPass(bool hosting) override;
  void StoppedHosting() override { blocker_.ClearBlocks(); }

 private:
  void BlockVotedOutAndBanned();

  MatchState& state_;
  BanList& bans_;
  Blocker& blocker_;
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
  void AskAbout(const std::vector<uint64_t>& presentIds) override;
  std::optional<bool> IsBanned(uint64_t communityId) const override { return service_.IsBanned(communityId); }

 private:
  void Work();

  BanService& service_;
  std::mutex mutex_;
  std::condition_variable handed_;
  std::optional<std::vector<uint64_t>> waiting_;  // guarded by mutex_
  bool stopping_ = false;                         // guarded by mutex_
  std::thread worker_;
};

// The firewall behind the Blocker seam; blocks expire at five computed
// minutes of `clock`.
class FirewallBlocker final : public Blocker {
 public:
  FirewallBlocker(Firewall& firewall, const Clock& clock) : firewall_(firewall), clock_(clock) {}
  void Block(uint32_t address, uint64_t communityId) override { firewall_.BlockPlayer(address, communityId); }
  void RemoveExpiredBlocks() override {
    firewall_.RemoveBlocksIf([this](BlockRecord record) { return IsBlockExpired(record, clock_); });
  }
  void ClearBlocks() override { firewall_.ClearBlocks(); }

 private:
  Firewall& firewall_;
  const Clock& clock_;
};

}  // namespace palisard
