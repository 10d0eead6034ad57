#include "app/host_duties.h"

#include <optional>
#include <tuple>
#include <vector>

#include "game/vote_book.h"

namespace palisard {

void HostDuties::AfterPass(bool hosting) {
  if (hosting) BlockVotedOutAndBanned();
  blocker_.RemoveExpiredBlocks();
}

void HostDuties::BlockVotedOutAndBanned() {
  const MatchData match = state_.Snapshot();
  std::vector<uint64_t> presentIds;
  for (const PlayerRecord& record : match.players) {
    if (record.communityId != 0) presentIds.push_back(record.communityId);
  }
  // Answers arrive later; until then what is known counts, and a stale
  // answer that says banned still does.
  bans_.AskAbout(presentIds);

  // The hosting player is never blocked by its own copy: that would cut
  // the whole match off.
  const std::optional<HostSeat> host = WhoHosts(match);
  const uint32_t needed = VotesNeeded(match);
  std::vector<std::tuple<uint32_t, uint64_t, BlockReason>> toBlock;
  for (std::size_t i = 0; i < match.players.size(); ++i) {
    const uint64_t id = match.players[i].communityId;
    if (id == 0 || (host && id == host->id)) continue;
    const uint32_t address = AddressToHostOrder(match.clients[i].Address());
    if (StaysBlocked(CountVotesAgainst(match, id), needed)) {
      toBlock.emplace_back(address, id, BlockReason::kVotes);
    } else if (bans_.Streaming() && bans_.IsBanned(id).value_or(false)) {
      toBlock.emplace_back(address, id, BlockReason::kBan);
    }
  }
  for (const auto& [address, id, reason] : toBlock) Block(address, id, reason);
}

void HostDuties::Block(uint32_t address, uint64_t communityId, BlockReason reason) {
  const Result result = blocker_.Block(address, communityId, reason);
  // Shut down on the way out: the blocks were lifted on purpose.
  if (result.kind() == Result::Kind::kClosed) return;
  if (InForce(result)) {
    failureTold_.erase(communityId);
    return;
  }
  auto [told, isNew] = failureTold_.try_emplace(communityId, result.code());
  if (!isNew && told->second == result.code()) return;
  told->second = result.code();
  console_.Print("%s", BlockFailureLine(communityId, address, result).c_str());
}

}  // namespace palisard
