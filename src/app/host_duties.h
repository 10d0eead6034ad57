#pragma once

#include <cstdint>
#include <map>

#include "bans/ban_lookup.h"
#include "common/clock.h"
#include "firewall/firewall.h"
#include "game/game_watcher.h"
#include "game/match_state.h"

namespace palisard {

// The firewall as the hosting duties use it.
class Blocker {
 public:
  virtual ~Blocker() = default;
  // Firewall::BlockPlayer's result: a player already blocked at that
  // address is left as is.
  virtual Result Block(uint32_t address, uint64_t communityId, BlockReason reason) = 0;
  virtual void RemoveExpiredBlocks() = 0;
  virtual void ClearBlocks() = 0;
};

// What the hosting copy does on each pass of the watcher: block voted-out
// and banned players (never the host), and lift blocks once they expire.
// Runs on the watcher's thread.
class HostDuties final : public PassObserver {
 public:
  HostDuties(MatchState& state, BanList& bans, Blocker& blocker, ConsoleSink& console = StandardOutput())
      : state_(state), bans_(bans), blocker_(blocker), console_(console) {}

  void AfterPass(bool hosting) override;
  void StoppedHosting() override {
    blocker_.ClearBlocks();
    failureTold_.clear();
  }

 private:
  void BlockVotedOutAndBanned();
  void Block(uint32_t address, uint64_t communityId, BlockReason reason);

  MatchState& state_;
  BanList& bans_;
  Blocker& blocker_;
  ConsoleSink& console_;
  // The last failure told for each id: the watcher asks ten times a second,
  // the console hears of a failure once.
  std::map<uint64_t, int64_t> failureTold_;
};

// The firewall behind the Blocker seam; blocks expire at five computed
// minutes of `clock`.
class FirewallBlocker final : public Blocker {
 public:
  FirewallBlocker(Firewall& firewall, const Clock& clock) : firewall_(firewall), clock_(clock) {}
  Result Block(uint32_t address, uint64_t communityId, BlockReason reason) override {
    return firewall_.BlockPlayer(address, communityId, reason);
  }
  void RemoveExpiredBlocks() override {
    firewall_.RemoveBlocksIf([this](BlockRecord record) { return IsBlockExpired(record, clock_); });
  }
  void ClearBlocks() override { firewall_.ClearBlocks(); }

 private:
  Firewall& firewall_;
  const Clock& clock_;
};

}  // namespace palisard
