#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bans/ban_service.h"
#include "common/clock.h"
#include "firewall/firewall.h"
#include "game/match_state.h"
#include "game/process_memory.h"

namespace palisard {

// Keeps the match state current from the game's memory, about ten times a
// second, and carries out the hosting copy's duties (blocking voted-out and
// banned players, lifting expired blocks). One thread runs it; it takes the match
// state's lock only briefly and never across a firewall call.
class GameWatcher {
 public:
  using TitleSink = std::function<void(const std::string&)>;

  GameWatcher(MatchState& state, GameProcesses& processes, Firewall& firewall, BanService& banService,
              const Clock& clock, TitleSink setTitle);

  // The thread: searches for the game, follows it, and starts over when it is
  // lost. Never returns.
  [[noreturn]] void Run();

  // The steps of Run, for tests.
  // Opens the game process `processId` and resolves its addresses; on
  // success prints "Game found.." and starts a fresh chat position.
  bool AttachToGame(uint32_t processId);
  // One read of the game; false when any read fails (the game is lost).
  bool RefreshMatchState();
  // Chat, host and hosting duties, expiry sweep and title, from the state
  // read last.
  void RunPass();

 private:
  void CaptureChat();
  // The host's slot; while hosting also blocks voted-out and banned players.
  int HostSlotWhileHosting();
  int HostSlotOfServer();
  void UpdateTitle(int hostSlot);
  void SetTitle(const std::string& title);

  MatchState& state_;
  GameProcesses& processes_;
  Firewall& firewall_;
  BanService& banService_;
  const Clock& clock_;
  TitleSink setTitle_;
  std::string title_;
  std::unique_ptr<ProcessMemory> game_;
  int32_t lastChatLine_ = -1;
};

}  // namespace palisard
