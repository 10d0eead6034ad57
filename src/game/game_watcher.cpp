#include "game/game_watcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

#include "common/admin_ports.h"
#include "common/byte_order.h"
#include "common/console_output.h"
#include "game/game_text.h"
#include "game/signatures.h"

namespace palisard {
namespace {

constexpr int64_t kPassIntervalMs = 100;
constexpr auto kSearchInterval = std::chrono::milliseconds(1000);
constexpr std::size_t kChatHeadOffset = 1312;
constexpr std::size_t kChatStartOffset = 1316;
constexpr std::size_t kSlotCountOffset = 328;
constexpr std::size_t kServerTextOffset = 36;
constexpr std::size_t kMaxChatCapture = 4;

}  // namespace

GameWatcher::GameWatcher(MatchState& state, GameProcesses& processes, Firewall& firewall, BanService& banService,
                         const Clock& clock, TitleSink setTitle)
    : state_(state),
      processes_(processes),
      firewall_(firewall),
      banService_(banService),
      clock_(clock),
      setTitle_(std::move(setTitle)) {}

void GameWatcher::Run() {
  // The host probe (the admin client) is started here, before the search.
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.ClearSlots();
  }
  bool lost = false;
  for (;;) {
    game_.reset();  // a lost game's handle is closed before the next attempt
    SetTitle("Palisard: No Game");
    if (lost) Print("Game is no longer running..\n");
    lost = false;

    uint32_t processId = 0;
    do {
      processId = processes_.FindGameProcess();
      std::this_thread::sleep_for(kSearchInterval);
    } while (processId == 0);
    if (!AttachToGame(processId)) continue;

    int64_t passStart = clock_.NowMs();
    lost = !RefreshMatchState();
    while (!lost) {
      RunPass();
      // A slow pass shortens the wait before the next one.
      int64_t remaining = kPassIntervalMs - (clock_.NowMs() - passStart);
      if (remaining > 0) std::this_thread::sleep_for(std::chrono::milliseconds(remaining));
      passStart = clock_.NowMs();
      lost = !RefreshMatchState();
    }
  }
}

bool GameWatcher::AttachToGame(uint32_t processId) {
  game_ = processes_.OpenGameProcess(processId);
  if (!game_ || !ResolveGameAddresses(*game_, state_)) {
    game_.reset();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.gameFound = true;
  }
  Print("Game found..\n");
  lastChatLine_ = -1;
  return true;
}

bool GameWatcher::RefreshMatchState() {
  if (!game_) return false;
  uint32_t ownIdAddress, chatAddress, serverInfoAddress, clientsAddress, serverAddrAddress;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    ownIdAddress = state_.ownIdAddress;
    chatAddress = state_.chatAddress;
    serverInfoAddress = state_.serverInfoAddress;
    clientsAddress = state_.clientsAddress;
    serverAddrAddress = state_.serverAddrAddress;
  }
  // Reads happen outside the lock; each block is applied once it is read.
  uint8_t ownId[8];
  std::array<uint8_t, MatchState::kGameChatSize> chat;
  std::array<uint8_t, MatchState::kServerInfoSize> serverInfo;
  if (!game_->Read(ownIdAddress, ownId, sizeof(ownId))) return false;
  if (!game_->Read(chatAddress, chat.data(), chat.size())) return false;
  if (!game_->Read(serverInfoAddress, serverInfo.data(), serverInfo.size())) return false;

  int32_t slots = static_cast<int32_t>(ReadLe32(serverInfo.data() + kSlotCountOffset));
  bool slotsChanged = false;
  uint32_t maxClients;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.ownId = ReadLe64(ownId);
    state_.gameChat = chat;
    state_.serverInfo = serverInfo;
    if (slots != static_cast<int32_t>(state_.maxClients) && serverInfo[kServerTextOffset] != 0) {
      slotsChanged = state_.Resize(slots);
    }
    maxClients = state_.maxClients;
  }
  if (slotsChanged) Print("Max Clients set to: %i\n", slots);

  std::vector<GameClientEntry> clients(maxClients);
  uint8_t server[6];
  if (!game_->Read(clientsAddress, clients.data(), clients.size() * GameClientEntry::kSize)) return false;
  if (!game_->Read(serverAddrAddress, server, sizeof(server))) return false;
  const Ipv4Bytes serverIp = {server[0], server[1], server[2], server[3]};
  const uint16_t serverPort = ReadLe16(server + 4);

  bool clearBlocks = false;
  std::vector<std::string> hostNames;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.clients = std::move(clients);
    state_.SyncPlayerRecords();
    if (serverIp == state_.serverIp) return true;  // a new port alone is no change

    state_.hostId = 0;
    state_.registrationKey = 0;
    state_.hostEnabled = false;
    state_.registered = false;
    state_.serverIp = serverIp;
    state_.hostAdminPort = kFirstAdminPort;
    // The vote counts were the old host's: kept, they would let this copy,
    // should it host now, kick players nobody voted against here.
    state_.votesNeeded = 0;
    for (PlayerRecord& record : state_.players) record.votesAgainst = 0;
    if (serverIp == Ipv4Bytes{0, 0, 0, 0}) return true;
    for (const GameClientEntry& entry : state_.clients) {
      if (entry.Address() != serverIp || entry.Port() != serverPort) continue;
      if (state_.hostId == state_.ownId && state_.ownId != entry.CommunityId()) clearBlocks = true;
      state_.hostId = entry.CommunityId();  // the last matching slot wins
      hostNames.push_back(entry.Name());
    }
  }
  if (clearBlocks) firewall_.ClearBlocks();
  for (const std::string& name : hostNames) Print("Server set to: %s\n", name.c_str());
  return true;
}

void GameWatcher::RunPass() {
  CaptureChat();
  bool hosting;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    hosting = state_.IsHosting();
  }
  int hostSlot = hosting ? HostSlotWhileHosting() : HostSlotOfServer();
  firewall_.RemoveBlocksIf([this](BlockRecord record) { return IsBlockExpired(record, clock_); });
  UpdateTitle(hostSlot);
}

void GameWatcher::CaptureChat() {
  std::vector<std::string> printed;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    const uint8_t* chat = state_.gameChat.data();
    const int64_t head = static_cast<int32_t>(ReadLe32(chat + kChatHeadOffset));
    int64_t next = lastChatLine_ == -1 ? static_cast<int32_t>(ReadLe32(chat + kChatStartOffset)) : lastChatLine_;
    // At most the newest four lines; a count that went back captures
    // nothing; line numbers below 0 are never read.
    next = head <= 0 ? head : std::clamp(next, std::max<int64_t>(head - 4, 0), head);
    for (std::size_t captured = 0; next < head && captured < kMaxChatCapture; ++captured, ++next) {
      const char* line = reinterpret_cast<const char*>(chat + (next % 4) * MatchState::kChatLineSize);
      std::string text(line, strnlen(line, MatchState::kChatLineSize));
      CleanGameText(text, false);
      printed.push_back(text);
      CleanGameText(text, true);
      text.resize(std::min(text.size(), MatchState::kChatLineSize - 1));
      auto& slot = state_.chatLog[state_.chatLineCount % MatchState::kChatLogLines];
      std::memcpy(slot.data(), text.c_str(), text.size() + 1);
      ++state_.chatLineCount;
    }
    lastChatLine_ = static_cast<int32_t>(next);
  }
  for (const std::string& line : printed) Print("%s\n", line.c_str());
}

int GameWatcher::HostSlotWhileHosting() {
  int hostSlot = -1;
  std::vector<uint64_t> presentIds;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    for (std::size_t i = 0; i < state_.players.size(); ++i) {
      const PlayerRecord& record = state_.players[i];
      if (record.communityId == 0) continue;
      presentIds.push_back(record.communityId);
      if (record.ip == state_.serverIp) hostSlot = static_cast<int>(i);
    }
  }
  // Ban streaming: the service is asked only when every answer has gone
  // stale, about once a minute; a stale answer that says banned still counts.
  banService_.GetBanList(presentIds, presentIds.size());
  std::set<uint64_t> banned;
  if (banService_.streaming) {
    for (uint64_t id : presentIds) {
      if (banService_.IsBanned(id).value_or(false)) banned.insert(id);
    }
  }

  std::vector<std::pair<uint32_t, uint64_t>> toBlock;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    for (std::size_t i = 0; i < state_.players.size(); ++i) {
      const PlayerRecord& record = state_.players[i];
      bool votedOut = state_.votesNeeded != 0 && record.votesAgainst > state_.votesNeeded;
      bool isBanned = record.communityId != state_.hostId && banned.count(record.communityId) != 0;
      if (votedOut || isBanned) {
        const GameClientEntry& entry = state_.clients[i];
        toBlock.emplace_back(AddressToHostOrder(entry.Address()), entry.CommunityId());
      }
    }
  }
  // A player already blocked is left as is by the firewall.
  for (const auto& [address, id] : toBlock) firewall_.BlockPlayer(address, id);
  return hostSlot;
}

int GameWatcher::HostSlotOfServer() {
  std::lock_guard<std::mutex> lock(state_.mutex);
  int hostSlot = -1;
  // Without a server every empty slot would match its 0.0.0.0.
  if (state_.serverIp == Ipv4Bytes{0, 0, 0, 0}) return hostSlot;
  for (std::size_t i = 0; i < state_.clients.size(); ++i) {
    if (state_.clients[i].Address() == state_.serverIp) hostSlot = static_cast<int>(i);
  }
  return hostSlot;
}

void GameWatcher::UpdateTitle(int hostSlot) {
  std::string title = "Palisard: ";
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    bool known = hostSlot >= 0 && static_cast<std::size_t>(hostSlot) < state_.clients.size();
    title += known ? state_.clients[hostSlot].Name() : "No Host";
    if (known && state_.hostEnabled) title += " | Palisard Enabled";
  }
  SetTitle(title);
}

void GameWatcher::SetTitle(const std::string& title) {
  // Only changes reach the console: the pass runs ten times a second.
  if (title == title_) return;
  title_ = title;
  setTitle_(title);
}

}  // namespace palisard
