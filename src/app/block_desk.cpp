#include "app/block_desk.h"

namespace palisard {

std::vector<BlockDesk::Entry> BlockDesk::List() const {
  const MatchData match = state_.Snapshot();
  std::vector<Entry> entries;
  for (const BlockRecord& block : firewall_.Blocks()) {
    Entry entry{block.CommunityId(), "", block.address, block.reason, BlockTimeLeft(block, clock_)};
    for (const GameClientEntry& client : match.clients) {
      if (client.CommunityId() == entry.communityId) entry.name = client.Name();
    }
    entries.push_back(entry);
  }
  return entries;
}

BlockDesk::Lifted BlockDesk::Unblock(uint64_t communityId) {
  Lifted lifted;
  for (const BlockRecord& block : firewall_.Blocks()) {
    if (block.CommunityId() == communityId) lifted.address = block.address;
  }
  if (lifted.address == 0) return lifted;
  // Votes first: the watcher must not find them between the two steps.
  state_.ForgetVotesAgainst(communityId);
  const FirewallResult result = firewall_.UnblockPlayer(communityId);
  for (const BlockRecord& block : firewall_.Blocks()) {
    if (block.CommunityId() != communityId) continue;
    lifted.kind = Lifted::kFailed;  // its filter would not go: the record stays
    lifted.code = result.code();
    return lifted;
  }
  lifted.kind = Lifted::kLifted;
  lifted.blockedAgain = isBanned_ && isBanned_(communityId);
  return lifted;
}

}  // namespace palisard
