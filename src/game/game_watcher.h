#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/console_output.h"
#include "game/match_state.h"
#include "game/process_memory.h"

namespace palisard {

// Whoever acts on the match after each pass, above the game link: the
// hosting copy's duties. Called on the watcher's thread.
class PassObserver {
 public:
  virtual ~PassObserver() = default;
  // After each pass over the game, with whether this copy hosts.
  virtual void AfterPass(bool hosting) = 0;
  // This copy hosted on the pass before and no longer does.
  virtual void StoppedHosting() = 0;
};

// Keeps the match state current from the game's memory, about ten times a
// second: chat, the host, the slot count, the window title. One thread runs
// it; what this copy does as host is the observer's.
class GameWatcher {
 public:
  using TitleSink = std::function<void(const std::string&)>;

  GameWatcher(MatchState& state, GameProcesses& processes, const Clock& clock, TitleSink setTitle,
              PassObserver& observer, ConsoleSink& console = StandardOutput());

  // The thread: searches for the game, follows it, and starts over when it is
  // lost. Never returns.
  [[noreturn]] void Run();

  // The steps of Run, for tests.
  // Opens the game process `processId` and resolves its addresses; on
  // success prints "Game found.." and starts a fresh chat position.
  bool AttachToGame(uint32_t processId);
  // One read of the game; false when any read fails (the game is lost).
  bool RefreshMatchState();
  // Chat, the observer's duties and the title, from the state read last.
  void RunPass();

 private:
  void CaptureChat();
  void UpdateTitle(const MatchData& match);
  void SetTitle(const std::string& title);

  MatchState& state_;
  GameProcesses& processes_;
  const Clock& clock_;
  TitleSink setTitle_;
  PassObserver& observer_;
  ConsoleSink& console_;
  std::string title_;
  std::unique_ptr<ProcessMemory> game_;
  int32_t lastChatLine_ = -1;
  // Whether this copy hosted at the last read, across lost games too.
  bool wasHosting_ = false;
};

}  // namespace palisard
