#include "game/match_state.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/admin_ports.h"
#include "common/byte_order.h"

namespace palisard {
namespace {

constexpr std::size_t kServerTextOffset = 36;
constexpr std::size_t kSlotCountOffset = 328;

}  // namespace

uint32_t AddressToHostOrder(const Ipv4Bytes& address) {
  return (static_cast<uint32_t>(address[0]) << 24) | (static_cast<uint32_t>(address[1]) << 16) |
         (static_cast<uint32_t>(address[2]) << 8) | static_cast<uint32_t>(address[3]);
}

GameClientEntry GameClientEntry::For(const std::string& name, const Ipv4Bytes& address, uint16_t port, uint64_t id) {
  GameClientEntry entry;
  entry.SetName(name);
  entry.SetAddress(address);
  entry.SetPort(port);
  entry.SetCommunityId(id);
  return entry;
}

std::string GameClientEntry::Name() const {
  const char* text = reinterpret_cast<const char*>(bytes.data());
  return std::string(text, strnlen(text, kAddressOffset));
}

Ipv4Bytes GameClientEntry::Address() const {
  Ipv4Bytes address;
  std::memcpy(address.data(), bytes.data() + kAddressOffset, address.size());
  return address;
}

uint16_t GameClientEntry::Port() const { return ReadLe16(bytes.data() + kPortOffset); }

uint64_t GameClientEntry::CommunityId() const { return ReadLe64(bytes.data() + kCommunityIdOffset); }

void GameClientEntry::SetName(const std::string& name) {
  std::size_t length = std::min(name.size(), kAddressOffset - 1);
  std::memset(bytes.data(), 0, kAddressOffset);
  std::memcpy(bytes.data(), name.data(), length);
}

void GameClientEntry::SetAddress(const Ipv4Bytes& address) {
  std::memcpy(bytes.data() + kAddressOffset, address.data(), address.size());
}

void GameClientEntry::SetPort(uint16_t port) { WriteLe16(bytes.data() + kPortOffset, port); }

void GameClientEntry::SetCommunityId(uint64_t id) { WriteLe64(bytes.data() + kCommunityIdOffset, id); }

MatchData::MatchData() : clients(kDefaultMaxClients), players(kDefaultMaxClients) {}

void MatchData::ClearSlots() {
  std::fill(clients.begin(), clients.end(), GameClientEntry{});
  std::fill(players.begin(), players.end(), PlayerRecord{});
}

bool MatchData::Resize(int32_t newMaxClients) {
  if (newMaxClients < 1 || newMaxClients > kMaxClientsLimit) return false;
  maxClients = static_cast<uint32_t>(newMaxClients);
  clients.resize(maxClients);
  players.resize(maxClients);
  return true;
}

void MatchData::SyncPlayerRecords() {
  for (std::size_t i = 0; i < players.size(); ++i) {
    const GameClientEntry& entry = clients[i];
    PlayerRecord& record = players[i];
    if (entry.CommunityId() != record.communityId) {
      record = PlayerRecord{};
      record.votedIds.reserve(1);
    }
    record.ip = entry.Address();
    record.port = entry.Port();
    record.communityId = entry.CommunityId();
  }
}

uint32_t MatchData::CountVotesAgainst(uint64_t communityId) const {
  uint32_t count = 0;
  for (const PlayerRecord& record : players) {
    if (record.communityId == 0) continue;
    if (std::find(record.votedIds.begin(), record.votedIds.end(), communityId) != record.votedIds.end()) {
      ++count;
    }
  }
  return count;
}

std::vector<std::string> MatchData::ChatLog() const {
  std::vector<std::string> lines;
  for (uint32_t n = chatLineCount; n < chatLineCount + kChatLogLines; ++n) {
    lines.emplace_back(chatLog[n % kChatLogLines].data());
  }
  return lines;
}

// Declared after the operation's MutexLock: at the end of the operation,
// still under the lock, wakes the link's waiters when the link changed.
class MatchState::LinkChange {
 public:
  explicit LinkChange(const MatchState& state) EXCLUSIVE_LOCKS_REQUIRED(state.mutex_)
      : state_(state), before_(state.LinkLocked()) {}
  // The analysis cannot see that the lock outlives this object.
  ~LinkChange() NO_THREAD_SAFETY_ANALYSIS {
    if (state_.LinkLocked() != before_) state_.NotifyLinkChanged();
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
  return LinkLocked();
}

HostLink MatchState::LinkLocked() const {
  return {data_.ownId,         data_.IsHosting(), data_.gameFound,  data_.serverIp,        data_.serverGeneration,
          data_.hostAdminPort, data_.hostEnabled, data_.registered, data_.registrationKey, data_.voteRequested};
}

bool MatchState::IsHosting() const {
  MutexLock lock(mutex_);
  return data_.IsHosting();
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
  const int32_t slots = static_cast<int32_t>(ReadLe32(info.data() + kSlotCountOffset));
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  data_.ownId = ownId;
  data_.gameChat = chat;
  data_.serverInfo = info;
  *slotsChanged =
      slots != static_cast<int32_t>(data_.maxClients) && info[kServerTextOffset] != 0 && data_.Resize(slots);
  return data_.maxClients;
}

ServerUpdate MatchState::ApplyClientsAndServer(std::vector<GameClientEntry> clients, const Ipv4Bytes& serverIp,
                                               uint16_t serverPort) {
  ServerUpdate update;
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  // The slot count can only have changed on the watcher's own thread, so a
  // table of another size is a caller's mistake: it is not taken.
  if (clients.size() != data_.players.size()) return update;
  data_.clients = std::move(clients);
  data_.SyncPlayerRecords();
  if (serverIp == data_.serverIp) return update;  // a new port alone is no change

  update.changed = true;
  ++data_.serverGeneration;
  data_.hostId = 0;
  data_.registrationKey = 0;
  data_.hostEnabled = false;
  data_.registered = false;
  data_.serverIp = serverIp;
  data_.hostAdminPort = kFirstAdminPort;
  // The vote counts were the old host's: kept, they would let this copy,
  // should it host now, kick players nobody voted against here.
  data_.votesNeeded = 0;
  for (PlayerRecord& record : data_.players) record.votesAgainst = 0;
  if (serverIp == Ipv4Bytes{0, 0, 0, 0}) return update;
  for (const GameClientEntry& entry : data_.clients) {
    if (entry.Address() != serverIp || entry.Port() != serverPort) continue;
    data_.hostId = entry.CommunityId();  // the last matching slot wins
    update.hostNames.push_back(entry.Name());
  }
  return update;
}

MatchData::GameChat MatchState::GameChat() const {
  MutexLock lock(mutex_);
  return data_.gameChat;
}

void MatchState::AppendChatLines(const std::vector<std::string>& lines) {
  MutexLock lock(mutex_);
  for (const std::string& line : lines) {
    auto& slot = data_.chatLog[data_.chatLineCount % MatchData::kChatLogLines];
    const std::size_t length = std::min(line.size(), MatchData::kChatLineSize - 1);
    std::memcpy(slot.data(), line.data(), length);
    slot[length] = '\0';
    ++data_.chatLineCount;
  }
}

std::optional<uint32_t> MatchState::RegisterPlayer(uint64_t communityId, const Admission& admit,
                                                   const KeySource& newKey) {
  // Id 0 marks an empty slot: it would match the first one.
  if (communityId == 0) return std::nullopt;
  MutexLock lock(mutex_);
  for (PlayerRecord& record : data_.players) {
    if (record.communityId != communityId) continue;
    if (!admit(record.ip, communityId == data_.hostId)) return std::nullopt;
    if (record.key == 0) record.key = newKey();
    return record.key;
  }
  return std::nullopt;
}

VoteOutcome MatchState::RecordVote(uint64_t voterId, uint32_t key, uint64_t targetId, const Clock& clock,
                                   int64_t coolDownMs) {
  MutexLock lock(mutex_);
  PlayerRecord* voter = nullptr;
  PlayerRecord* target = nullptr;
  for (PlayerRecord& record : data_.players) {  // the last slot of an id counts
    if (record.communityId == voterId) voter = &record;
    if (record.communityId == targetId) target = &record;
  }
  if (voter == nullptr || target == nullptr || voterId == 0 || targetId == 0) return {VoteOutcome::kInvalidId};
  // Keys are never 0, so 0 is "not registered", never a key: without this a
  // stranger could vote in the name of any player whose copy has not
  // registered.
  if (key == 0 || key != voter->key) return {VoteOutcome::kInvalidKey};
  if (voter->voteTimer.state != Stopwatch::kNeverStarted) {
    const double elapsed = voter->voteTimer.ElapsedMs(clock);
    if (elapsed < static_cast<double>(coolDownMs)) {
      return {VoteOutcome::kCoolingDown, static_cast<int>(std::ceil((coolDownMs - elapsed) / 1000.0))};
    }
  }
  if (std::find(voter->votedIds.begin(), voter->votedIds.end(), targetId) != voter->votedIds.end()) {
    return {VoteOutcome::kAlreadyVoted};
  }
  voter->voteTimer.Start(clock);
  voter->votedIds.push_back(targetId);
  target->votesAgainst = data_.CountVotesAgainst(targetId);
  return {VoteOutcome::kRecorded, 0, target->votesAgainst >= data_.votesNeeded, AddressToHostOrder(target->ip)};
}

void MatchState::RecomputeVotesNeeded() {
  MutexLock lock(mutex_);
  uint32_t registered = 0;
  for (const PlayerRecord& record : data_.players) registered += record.key != 0 ? 1 : 0;
  data_.votesNeeded = std::max<uint32_t>((registered + 1) / 2, 1);
}

bool MatchState::HostAnswered(uint32_t serverGeneration) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  if (serverGeneration != data_.serverGeneration) return false;
  data_.hostEnabled = true;
  return true;
}

void MatchState::HostSilent(uint32_t serverGeneration) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  if (serverGeneration != data_.serverGeneration) return;
  if (data_.hostEnabled) {
    // The host's service may come back on any port, and its keys with a
    // fresh start are new ones.
    data_.hostEnabled = false;
    data_.registered = false;
    data_.registrationKey = 0;
    data_.hostAdminPort = kFirstAdminPort;
    return;
  }
  ++data_.hostAdminPort;
  if (data_.hostAdminPort < kFirstAdminPort || data_.hostAdminPort > kLastAdminPort) {
    data_.hostAdminPort = kFirstAdminPort;
  }
}

void MatchState::SetRegistration(uint32_t serverGeneration, bool registered, uint32_t key) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  if (serverGeneration != data_.serverGeneration) return;
  data_.registered = registered;
  data_.registrationKey = key;
}

void MatchState::ApplyVoteTable(uint32_t serverGeneration, uint32_t votesNeeded,
                                const std::vector<std::pair<uint64_t, uint32_t>>& counts) {
  MutexLock lock(mutex_);
  if (serverGeneration != data_.serverGeneration) return;
  data_.votesNeeded = votesNeeded;
  for (const auto& [communityId, votes] : counts) {
    if (communityId == 0) continue;
    for (PlayerRecord& record : data_.players) {
      if (record.communityId == communityId) record.votesAgainst = votes;
    }
  }
}

bool MatchState::RequestVote() {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  if (!data_.hostEnabled) return false;
  data_.voteRequested = true;
  return true;
}

void MatchState::EditForTest(const std::function<void(MatchData&)>& edit) {
  MutexLock lock(mutex_);
  const LinkChange change(*this);
  edit(data_);
}

uint64_t MatchState::LinkVersion() const { return linkVersion_.load(); }

void MatchState::WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(waitMutex_);
  linkChanged_.wait_for(lock, timeout, [&] { return linkVersion_.load() != seen; });
}

void MatchState::NotifyLinkChanged() const {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    ++linkVersion_;
  }
  linkChanged_.notify_all();
}

bool MatchState::HasPlayerAt(uint32_t hostOrderAddress) const {
  MutexLock lock(mutex_);
  for (const PlayerRecord& record : data_.players) {
    if (record.communityId != 0 && AddressToHostOrder(record.ip) == hostOrderAddress) return true;
  }
  return false;
}

}  // namespace palisard
