#include "app/block_desk.h"

#include <cinttypes>
#include <cstdio>

#include "common/ipv4.h"

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
  const Result result = firewall_.UnblockPlayer(communityId);
  for (const BlockRecord& block : firewall_.Blocks()) {
    if (block.CommunityId() != communityId) continue;
    lifted.kind = Lifted::kFailed;  // its filter would not go: the record stays
    lifted.code = static_cast<uint32_t>(result.code());
    return lifted;
  }
  lifted.kind = Lifted::kLifted;
  lifted.blockedAgain = isBanned_ && isBanned_(communityId);
  return lifted;
}

std::string UnblockMessage(uint64_t communityId, const BlockDesk::Lifted& lifted) {
  const std::string address = DottedAddress(lifted.address);
  char text[256];
  switch (lifted.kind) {
    case BlockDesk::Lifted::kNoBlock:
      std::snprintf(text, sizeof(text), "No block for %" PRIu64, communityId);
      break;
    case BlockDesk::Lifted::kFailed:
      std::snprintf(text, sizeof(text), "Could not unblock %" PRIu64 " ( %s ): %x", communityId, address.c_str(),
                    static_cast<unsigned>(lifted.code));
      break;
    case BlockDesk::Lifted::kLifted:
      std::snprintf(text, sizeof(text),
                    lifted.blockedAgain ? "Unblocked %" PRIu64
                                          " ( %s ), but the ban service says the player is banned: blocked again "
                                          "on the next pass"
                                        : "Unblocked %" PRIu64 " ( %s ); the votes against the player are withdrawn",
                    communityId, address.c_str());
      break;
  }
  return text;
}

}  // namespace palisard
