#include "app/host_duties.h"

#include <set>
#include <utility>

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
  std::set<uint64_t> banned;
  if (bans_.Streaming()) {
    for (uint64_t id : presentIds) {
      if (bans_.IsBanned(id).value_or(false)) banned.insert(id);
    }
  }

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

BanServiceList::BanServiceList(BanService& service) : service_(service), worker_([this] { Work(); }) {}

BanServiceList::~BanServiceList() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  handed_.notify_all();
  worker_.join();
}

void BanServiceList::AskAbout(const std::vector<uint64_t>& presentIds) {
  // Most passes have nothing to ask: the worker is not woken for them.
  if (!service_.WouldAsk(presentIds, presentIds.size())) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_ = presentIds;
  }
  handed_.notify_one();
}

void BanServiceList::Work() {
  for (;;) {
    std::vector<uint64_t> ids;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      handed_.wait(lock, [this] { return waiting_.has_value() || stopping_; });
      if (stopping_) return;
      ids = std::move(*waiting_);
      waiting_.reset();
    }
    // With every present id as the minimum, a request goes out only when
    // none of them has a fresh answer.
    const std::size_t present = ids.size();
    service_.GetBanList(std::move(ids), present);
  }
}

}  // namespace palisard
