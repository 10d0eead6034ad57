#pragma once

#include <chrono>
#include <cstdint>

#include "common/clock.h"
#include "game/match_data.h"

namespace palisard {

// Every rule of a vote-kick, in one place. Votes against a player are never
// stored as a count: they are counted from the votes of the players present
// now, so a vote leaves with its voter and no count can go stale.

// The number of present players whose votes include `communityId`; a voter
// counts once however often it holds the id.
uint32_t CountVotesAgainst(const MatchData& match, uint64_t communityId);

// The threshold: half the registered players (the host's own copy among
// them), rounded up, and at least 1.
uint32_t VotesNeeded(uint32_t registeredPlayers);
// The threshold of the players registered in `match` now.
uint32_t VotesNeeded(const MatchData& match);

// The two kick rules, side by side. A vote that brings a player's count to
// the threshold kicks at once (one block of about five minutes); once that
// block expires, the watcher blocks the player again only while the count
// is above the threshold. So a bare majority kicks once, and more than that
// keeps the player out of the match.
bool VoteKicks(uint32_t votes, uint32_t needed);
bool StaysBlocked(uint32_t votes, uint32_t needed);

// What this copy shows and acts on: on the hosting copy, counted from the
// votes; elsewhere, the host's figures from its last vote table.
uint32_t VotesAgainstSlot(const MatchData& match, std::size_t slot);
uint32_t VotesNeededNow(const MatchData& match);

// A voter waits this long after a recorded vote before the next one counts.
inline constexpr std::chrono::milliseconds kVoteCoolDown{15'000};

// The outcome of one vote-kick.
struct VoteOutcome {
  enum Kind { kRecorded, kSelfVote, kInvalidId, kInvalidKey, kTargetIsHost, kCoolingDown, kAlreadyVoted };
  Kind kind = kRecorded;
  int waitSeconds = 0;         // kCoolingDown: whole seconds left, rounded up
  bool kick = false;           // kRecorded: the votes reached the threshold
  uint32_t targetAddress = 0;  // kRecorded: host order
};

// Checks one vote, in this order: not for oneself (whatever the ids), ids
// present and not 0, the target not the host, the voter's key, its
// cool-down (which only a recorded vote starts), no repeat; and records it.
// Nothing changes unless the outcome is kRecorded.
VoteOutcome RecordVote(MatchData& match, uint64_t voterId, uint32_t key, uint64_t targetId, const Clock& clock);

// Withdraws every vote against `communityId` (the host lifted its block by
// hand). Returns how many there were.
uint32_t ForgetVotesAgainst(MatchData& match, uint64_t communityId);

}  // namespace palisard
