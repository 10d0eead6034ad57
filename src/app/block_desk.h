#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "firewall/firewall.h"
#include "game/match_state.h"

namespace palisard {

// The blocks in force as the hosting player sees them, and lifting one by
// hand. Used from the console's thread.
class BlockDesk {
 public:
  // Whether the ban service says the player is banned (streaming on).
  using BanCheck = std::function<bool(uint64_t communityId)>;

  struct Entry {
    uint64_t communityId = 0;
    std::string name;  // as the game holds it; empty once the player left
    uint32_t address = 0;
    BlockReason reason = BlockReason::kVotes;
    std::chrono::milliseconds left{0};
  };

  struct Lifted {
    enum Kind { kLifted, kNoBlock, kFailed };
    Kind kind = kNoBlock;
    uint32_t address = 0;
    uint32_t code = 0;          // kFailed: the firewall's
    bool blockedAgain = false;  // kLifted: a ban puts it back on the next pass
  };

  BlockDesk(Firewall& firewall, MatchState& state, const Clock& clock, BanCheck isBanned)
      : firewall_(firewall), state_(state), clock_(clock), isBanned_(std::move(isBanned)) {}

  std::vector<Entry> List() const;
  // Lifts the block of `communityId` and withdraws the votes against the
  // player, so the watcher does not put it back until new votes come.
  Lifted Unblock(uint64_t communityId);

 private:
  Firewall& firewall_;
  MatchState& state_;
  const Clock& clock_;
  BanCheck isBanned_;
};

// What "unblock ID" tells the player about `lifted`, without a line end.
std::string UnblockMessage(uint64_t communityId, const BlockDesk::Lifted& lifted);

}  // namespace palisard
