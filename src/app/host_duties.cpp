#include "app/host_duties.h"

#include <set>
#include <utility>

namespace palisard {

void HostDuties::AfterPass(bool hosting) {
  if (hosting) BlockVotedOutAndBanned();
  blocker_.RemoveExpiredBlocks();
}

void HostDuties::BlockVotedOutAndBanned() {
  std::vector<uint64_t> presentIds;
  for (const PlayerRecord& record : state_.Snapshot().players) {
    if (record.communityId != 0) presentIds.push_back(record.communityId);
  }
  // A stale answer that says banned still counts.
  bans_.AskAbout(presentIds);
  std::set<uint64_t> banned;
  if (bans_.Streaming()) {
    for (uint64_t id : presentIds) {
      if (bans_.IsBanned(id).value_or(false)) banned.insert(id);
    }
  }

  // The match as it is after the ban exchange, which may have taken a while.
  const MatchData match = state_.Snapshot();
  std::vector<std::pair<uint32_t, uint64_t>> toBlock;
  for (std::size_t i = 0; i < match.players.size(); ++i) {
    const PlayerRecord& record = match.players[i];
    const bool votedOut = match.votesNeeded != 0 && record.votesAgainst > match.votesNeeded;
    const bool isBanned = record.communityId != match.hostId && banned.count(record.communityId) != 0;
    if (votedOut || isBanned) {
      const GameClientEntry& entry = match.clients[i];
      toBlock.emplace_back(AddressToHostOrder(entry.Address()), entry.CommunityId());
    }
  }
  for (const auto& [address, id] : toBlock) blocker_.Block(address, id);
}

}  // namespace palisard
