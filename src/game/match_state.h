#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "game/host_link.h"
#include "game/match_data.h"
#include "game/vote_book.h"

namespace palisard {

// The one shared picture of the match. The watcher writes the game copies;
// the admin, web and console threads read them and write their own fields,
// each through one operation below that holds the lock for its whole run.
// The rules themselves live beside it: the vote book (vote_book.h), the
// link to the host (host_link.h), who hosts (match_data.h).
//
// Thread-safe. No operation calls out (network, firewall, ban service)
// while it holds the lock.
class MatchState {
 public:
  using KeySource = std::function<uint32_t()>;
  // Whether a registration from the player in a slot is let in: the slot's
  // address, and whether the player hosts.
  using Admission = std::function<bool(const Ipv4Bytes& slotAddress, bool isHost)>;

  // A copy of the whole picture, for the pages, the console and tests.
  MatchData Snapshot() const LOCKS_EXCLUDED(mutex_);
  HostLink Link() const LOCKS_EXCLUDED(mutex_);
  // IsHosting of match_data.h, under the lock.
  bool IsHosting() const LOCKS_EXCLUDED(mutex_);

  // The watcher's side.
  void ClearSlots() LOCKS_EXCLUDED(mutex_);
  void SetGameAddresses(const GameAddresses& addresses) LOCKS_EXCLUDED(mutex_);
  GameAddresses Addresses() const LOCKS_EXCLUDED(mutex_);
  void MarkGameFound() LOCKS_EXCLUDED(mutex_);
  // The first blocks of a read pass. A new slot count is taken only while
  // the server text is not empty; `slotsChanged` tells whether it was.
  // Returns the slot count to read the client table with.
  uint32_t ApplyGameInfo(uint64_t ownId, const MatchData::GameChat& chat, const MatchData::ServerInfo& info,
                         bool* slotsChanged) LOCKS_EXCLUDED(mutex_);
  // The rest of a read pass: the client table (as many entries as
  // ApplyGameInfo said) and the server's address (FollowServer).
  ServerUpdate ApplyClientsAndServer(std::vector<GameClientEntry> clients, const Ipv4Bytes& serverIp,
                                     uint16_t serverPort) LOCKS_EXCLUDED(mutex_);
  MatchData::GameChat GameChat() const LOCKS_EXCLUDED(mutex_);
  // Keeps captured lines (already cleaned and escaped) for the page.
  void AppendChatLines(const std::vector<std::string>& lines) LOCKS_EXCLUDED(mutex_);

  // The hosting service's side.
  // Gives the player `communityId` its key (a new one from `newKey` when it
  // has none) when `admit` lets it in; nothing otherwise, and never for 0.
  std::optional<uint32_t> RegisterPlayer(uint64_t communityId, const Admission& admit, const KeySource& newKey)
      LOCKS_EXCLUDED(mutex_);
  // The vote book's RecordVote, under the lock.
  VoteOutcome RecordVote(uint64_t voterId, uint32_t key, uint64_t targetId, const Clock& clock) LOCKS_EXCLUDED(mutex_);
  // The vote book's ForgetVotesAgainst, under the lock.
  uint32_t ForgetVotesAgainst(uint64_t communityId) LOCKS_EXCLUDED(mutex_);

  // The link to the host (host_link.h has the rules).
  bool HostAnswered(uint32_t serverGeneration) LOCKS_EXCLUDED(mutex_);
  void HostSilent(uint32_t serverGeneration) LOCKS_EXCLUDED(mutex_);
  void SetRegistration(uint32_t serverGeneration, bool registered, uint32_t key) LOCKS_EXCLUDED(mutex_);
  void ApplyVoteTable(uint32_t serverGeneration, uint32_t votesNeeded,
                      const std::vector<std::pair<uint64_t, uint32_t>>& counts) LOCKS_EXCLUDED(mutex_);
  // Marks that this copy's player asked for a vote-kick at `nowMs`; false,
  // marking nothing, when the host runs no admin service.
  bool RequestVote(int64_t nowMs) LOCKS_EXCLUDED(mutex_);

  // Waiting for the link to change (the server, the hosting, the host's
  // service, the registration, a vote request), so that the threads that
  // follow it sleep rather than poll. Take the version, look at the link,
  // then wait with that version: no change in between is missed.
  uint64_t LinkVersion() const LOCKS_EXCLUDED(waitMutex_);
  // Returns once the link changed since `seen`, or after `timeout`.
  void WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout) const LOCKS_EXCLUDED(waitMutex_);

  // For tests: sets up a situation in one step.
  void EditForTest(const std::function<void(MatchData&)>& edit) LOCKS_EXCLUDED(mutex_);

  // A present player (nonzero id) plays from `hostOrderAddress`.
  bool HasPlayerAt(uint32_t hostOrderAddress) const LOCKS_EXCLUDED(mutex_);

 private:
  class LinkChange;

  void NotifyLinkChanged() const LOCKS_EXCLUDED(waitMutex_);

  mutable Mutex mutex_;
  MatchData data_ GUARDED_BY(mutex_);

  // Lock order: mutex_, then waitMutex_.
  mutable Mutex waitMutex_;
  mutable CondVar linkChanged_;
  mutable uint64_t linkVersion_ GUARDED_BY(waitMutex_) = 0;
};

}  // namespace palisard
