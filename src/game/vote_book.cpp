#include "game/vote_book.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace palisard {
namespace {

bool HasVotedFor(const PlayerRecord& voter, uint64_t communityId) {
  return std::find(voter.votedIds.begin(), voter.votedIds.end(), communityId) != voter.votedIds.end();
}

}  // namespace

uint32_t CountVotesAgainst(const MatchData& match, uint64_t communityId) {
  if (communityId == 0) return 0;
  uint32_t count = 0;
  for (const PlayerRecord& record : match.players) count += record.communityId != 0 && HasVotedFor(record, communityId);
  return count;
}

uint32_t VotesNeeded(uint32_t registeredPlayers) { return std::max<uint32_t>((registeredPlayers + 1) / 2, 1); }

uint32_t VotesNeeded(const MatchData& match) {
  uint32_t registered = 0;
  for (const PlayerRecord& record : match.players) registered += record.communityId != 0 && record.key != 0;
  return VotesNeeded(registered);
}

bool VoteKicks(uint32_t votes, uint32_t needed) { return needed != 0 && votes >= needed; }

bool StaysBlocked(uint32_t votes, uint32_t needed) { return needed != 0 && votes > needed; }

uint32_t VotesAgainstSlot(const MatchData& match, std::size_t slot) {
  const PlayerRecord& record = match.players[slot];
  return IsHosting(match) ? CountVotesAgainst(match, record.communityId) : record.votesAgainst;
}

uint32_t VotesNeededNow(const MatchData& match) { return IsHosting(match) ? VotesNeeded(match) : match.votesNeeded; }

VoteOutcome RecordVote(MatchData& match, uint64_t voterId, uint32_t key, uint64_t targetId, const Clock& clock) {
  if (voterId == targetId) return {VoteOutcome::kSelfVote};
  PlayerRecord* voter = nullptr;
  PlayerRecord* target = nullptr;
  for (PlayerRecord& record : match.players) {  // the last slot of an id counts
    if (record.communityId == voterId) voter = &record;
    if (record.communityId == targetId) target = &record;
  }
  if (voter == nullptr || target == nullptr || voterId == 0 || targetId == 0) return {VoteOutcome::kInvalidId};
  // The hosting player's own copy would block its own address, and with it
  // the whole match.
  const std::optional<HostSeat> host = WhoHosts(match);
  if (host && targetId == host->id) return {VoteOutcome::kTargetIsHost};
  // Keys are never 0, so 0 is "not registered", never a key: without this a
  // stranger could vote in the name of any player whose copy has not
  // registered.
  if (key == 0 || key != voter->key) return {VoteOutcome::kInvalidKey};
  if (voter->voteTimer.state != Stopwatch::kNeverStarted) {
    const double elapsed = voter->voteTimer.ElapsedMs(clock);
    const double limit = static_cast<double>(kVoteCoolDown.count());
    if (elapsed < limit) return {VoteOutcome::kCoolingDown, static_cast<int>(std::ceil((limit - elapsed) / 1000.0))};
  }
  if (HasVotedFor(*voter, targetId)) return {VoteOutcome::kAlreadyVoted};
  voter->voteTimer.Start(clock);
  voter->votedIds.push_back(targetId);
  const bool kick = VoteKicks(CountVotesAgainst(match, targetId), VotesNeeded(match));
  return {VoteOutcome::kRecorded, 0, kick, AddressToHostOrder(target->ip)};
}

uint32_t ForgetVotesAgainst(MatchData& match, uint64_t communityId) {
  uint32_t forgotten = 0;
  for (PlayerRecord& record : match.players) {
    const auto end = std::remove(record.votedIds.begin(), record.votedIds.end(), communityId);
    forgotten += end != record.votedIds.end();
    record.votedIds.erase(end, record.votedIds.end());
  }
  return forgotten;
}

}  // namespace palisard
