#include "game/game_watcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "common/byte_order.h"
#include "common/console_output.h"
#include "game/game_text.h"
#include "game/layout.h"
#include "game/signatures.h"

namespace palisard {
namespace {

constexpr int64_t kPassIntervalMs = 100;
constexpr auto kSearchInterval = std::chrono::milliseconds(1000);
// The game keeps only its ring of lines: older ones are gone.
constexpr std::size_t kMaxChatCapture = layout::kChatRingLines;

}  // namespace

GameWatcher::GameWatcher(MatchState& state, GameProcesses& processes, const Clock& clock, TitleSink setTitle,
                         PassObserver& observer, ConsoleSink& console)
    : state_(state),
      processes_(processes),
      clock_(clock),
      setTitle_(std::move(setTitle)),
      observer_(observer),
      console_(console) {}

void GameWatcher::Run() {
  state_.ClearSlots();
  bool lost = false;
  for (;;) {
    game_.reset();  // a lost game's handle is closed before the next attempt
    SetTitle("Palisard: No Game");
    if (lost) console_.Print("Game is no longer running..\n");
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
  if (!game_ || !ResolveGameAddresses(*game_, state_, console_)) {
    game_.reset();
    return false;
  }
  state_.MarkGameFound();
  console_.Print("Game found..\n");
  lastChatLine_ = -1;
  return true;
}

bool GameWatcher::RefreshMatchState() {
  if (!game_) return false;
  const GameAddresses at = state_.Addresses();
  // Reads happen outside the lock; each block is applied once it is read.
  uint8_t ownId[layout::kOwnIdSize];
  MatchData::GameChat chat;
  MatchData::ServerInfo serverInfo;
  if (!game_->Read(at.ownId, ownId, sizeof(ownId))) return false;
  if (!game_->Read(at.chat, chat.data(), chat.size())) return false;
  if (!game_->Read(at.serverInfo, serverInfo.data(), serverInfo.size())) return false;

  bool slotsChanged = false;
  const uint32_t maxClients = state_.ApplyGameInfo(ReadLe64(ownId), chat, serverInfo, &slotsChanged);
  if (slotsChanged) console_.Print("Max Clients set to: %i\n", static_cast<int>(maxClients));

  std::vector<GameClientEntry> clients(maxClients);
  uint8_t server[layout::kServerAddressSize];
  if (!game_->Read(at.clients, clients.data(), clients.size() * layout::kClientSize)) return false;
  if (!game_->Read(at.serverAddr, server, sizeof(server))) return false;
  const Ipv4Bytes serverIp = {server[0], server[1], server[2], server[3]};

  ServerUpdate update =
      state_.ApplyClientsAndServer(std::move(clients), serverIp, ReadLe16(server + layout::kServerPortOffset));
  for (const std::string& name : update.hostNames) {
    console_.Print("Server set to: %s\n", PrintableText(name).c_str());
  }
  // Whatever took the match from this copy (another host, no server, a new
  // own id), its blocks have no business in the next match.
  const bool hosting = state_.IsHosting();
  if (wasHosting_ && !hosting) observer_.StoppedHosting();
  wasHosting_ = hosting;
  return true;
}

void GameWatcher::RunPass() {
  CaptureChat();
  observer_.AfterPass(state_.IsHosting());
  UpdateTitle(state_.Snapshot());
}

void GameWatcher::CaptureChat() {
  const MatchData::GameChat chat = state_.GameChat();
  const int64_t head = static_cast<int32_t>(ReadLe32(chat.data() + layout::kChatHeadOffset));
  int64_t next =
      lastChatLine_ == -1 ? static_cast<int32_t>(ReadLe32(chat.data() + layout::kChatStartOffset)) : lastChatLine_;
  // At most the lines the ring still holds; a count that went back
  // captures nothing; line numbers below 0 are never read.
  const int64_t ring = static_cast<int64_t>(layout::kChatRingLines);
  next = head <= 0 ? head : std::clamp(next, std::max<int64_t>(head - ring, 0), head);
  std::vector<std::string> kept;
  for (std::size_t captured = 0; next < head && captured < kMaxChatCapture; ++captured, ++next) {
    const char* line = reinterpret_cast<const char*>(chat.data() + (next % ring) * layout::kChatLineStride);
    const std::string text = CleanGameText(std::string(line, strnlen(line, layout::kChatLineStride)));
    console_.Print("%s\n", PrintableText(text).c_str());
    // Kept cleaned once more, as the page has always shown it ("^^11" is
    // printed "^1" and kept empty); escaped only where a page is written.
    kept.push_back(CleanGameText(text));
  }
  lastChatLine_ = static_cast<int32_t>(next);
  state_.AppendChatLines(kept);
}

void GameWatcher::UpdateTitle(const MatchData& match) {
  const std::optional<HostSeat> host = WhoHosts(match);
  std::string title = "Palisard: ";
  title += host ? PrintableText(match.clients[host->slot].Name()) : "No Host";
  if (host && match.hostEnabled) title += " | Palisard Enabled";
  SetTitle(title);
}

void GameWatcher::SetTitle(const std::string& title) {
  // Only changes reach the console: the pass runs ten times a second.
  if (title == title_) return;
  title_ = title;
  setTitle_(title);
}

}  // namespace palisard
