#include "game/match_state.h"

#include "common/byte_order.h"

namespace palisard {

// Declared after the operation's MutexLock: at the end of the operation,
// still under the lock, wakes the link's waiters when the link changed.
class MatchState::LinkChange {
 public:
  explicit LinkChange(const MatchState& state) EXCLUSIVE_LOCKS_REQUIRED(state.mutex_)
      : state_(state), before_(LinkOf(state.data_)) {}
  // The analysis cannot see that the lock outlives this object.
  ~LinkChange() NO_THREAD_SAFETY_ANALYSIS {
    if (LinkOf(state_.data_) != before_) state_.NotifyLinkChanged();
  }
  LinkChange(const LinkChange&) = delete;
  LinkChange& operator=(const LinkChange&) = delete;

 private:
  const MatchState& state_;
  const HostLink before_;
};

MatchData MatchState::Snapshot() const {
  MutexLock lock(mutex_);
  return data_;
}

HostLink MatchState::Link() const {
  MutexLock lock(mutex_);
  return LinkOf(data_);
}

bool MatchState::IsHosting() const {
  MutexLock lock(mutex_);
  return palisard::IsHosting(data_);
}

void MatchState::ClearSlots() {
  MutexLock lock(mutex_);
  data_.ClearSlots();
}

void MatchState::SetGameAddresses(const GameAddresses& addresses) {
  MutexLock lock(mutex_);
  data_.addresses = addresses;
}

GameAddresses MatchState::Addresses() const {
  MutexLock lock(mutex_);
  return data_.addresses;
}

void MatchState::MarkGameFound() {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  data_.gameFound = true;
}

uint32_t MatchState::ApplyGameInfo(uint64_t ownId, const MatchData::GameChat& chat, const MatchData::ServerInfo& info,
                                   bool* slotsChanged) {
  const int32_t slots = static_cast<int32_t>(ReadLe32(info.data() + layout::kSlotCountOffset));
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  data_.ownId = ownId;
  data_.gameChat = chat;
  data_.serverInfo = info;
  *slotsChanged =
      slots != static_cast<int32_t>(data_.maxClients) && info[layout::kServerTextOffset] != 0 && data_.Resize(slots);
  return data_.maxClients;
}

ServerUpdate MatchState::ApplyClientsAndServer(std::vector<GameClientEntry> clients, const Ipv4Bytes& serverIp,
                                               uint16_t serverPort) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  // The slot count can only have changed on the watcher's own thread, so a
  // table of another size is a caller's mistake: it is not taken.
  if (clients.size() != data_.players.size()) return {};
  data_.clients = std::move(clients);
  data_.SyncPlayerRecords();
  return FollowServer(data_, serverIp, serverPort);
}

MatchData::GameChat MatchState::GameChat() const {
  MutexLock lock(mutex_);
  return data_.gameChat;
}

void MatchState::AppendChatLines(const std::vector<std::string>& lines) {
  MutexLock lock(mutex_);
  for (const std::string& line : lines) data_.chatLog.Append(line);
}

std::optional<uint32_t> MatchState::RegisterPlayer(uint64_t communityId, const Admission& admit,
                                                   const KeySource& newKey) {
  // Id 0 marks an empty slot: it would match the first one.
  if (communityId == 0) return std::nullopt;
  MutexLock lock(mutex_);
  const std::optional<HostSeat> host = WhoHosts(data_);
  for (PlayerRecord& record : data_.players) {
    if (record.communityId != communityId) continue;
    if (!admit(record.ip, host && host->id == communityId)) return std::nullopt;
    if (record.key == 0) record.key = newKey();
    return record.key;
  }
  return std::nullopt;
}

VoteOutcome MatchState::RecordVote(uint64_t voterId, uint32_t key, uint64_t targetId, const Clock& clock) {
  MutexLock lock(mutex_);
  return palisard::RecordVote(data_, voterId, key, targetId, clock);
}

uint32_t MatchState::ForgetVotesAgainst(uint64_t communityId) {
  MutexLock lock(mutex_);
  return palisard::ForgetVotesAgainst(data_, communityId);
}

bool MatchState::HostAnswered(uint32_t serverGeneration) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  return palisard::HostAnswered(data_, serverGeneration);
}

void MatchState::HostSilent(uint32_t serverGeneration) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  palisard::HostSilent(data_, serverGeneration);
}

void MatchState::SetRegistration(uint32_t serverGeneration, bool registered, uint32_t key) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  palisard::SetRegistration(data_, serverGeneration, registered, key);
}

void MatchState::ApplyVoteTable(uint32_t serverGeneration, uint32_t votesNeeded,
                                const std::vector<std::pair<uint64_t, uint32_t>>& counts) {
  MutexLock lock(mutex_);
  palisard::ApplyVoteTable(data_, serverGeneration, votesNeeded, counts);
}

bool MatchState::RequestVote(int64_t nowMs) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  if (!data_.hostEnabled) return false;
  data_.voteRequestedAtMs = nowMs;
  return true;
}

void MatchState::EditForTest(const std::function<void(MatchData&)>& edit) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  edit(data_);
}

uint64_t MatchState::LinkVersion() const {
  MutexLock lock(waitMutex_);
  return linkVersion_;
}

void MatchState::WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout) const {
  const Deadline deadline(SystemClock(), timeout);
  MutexLock lock(waitMutex_);
  while (linkVersion_ == seen && !deadline.Passed()) linkChanged_.WaitFor(waitMutex_, deadline.Remaining());
}

void MatchState::NotifyLinkChanged() const {
  {
    MutexLock lock(waitMutex_);
    ++linkVersion_;
  }
  linkChanged_.NotifyAll();
}

bool MatchState::HasPlayerAt(uint32_t hostOrderAddress) const {
  MutexLock lock(mutex_);
  for (const PlayerRecord& record : data_.players) {
    if (record.communityId != 0 && AddressToHostOrder(record.ip) == hostOrderAddress) return true;
  }
  return false;
}

}  // namespace palisard
