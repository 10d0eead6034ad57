#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "game/process_memory.h"
#include "game_layout.h"

namespace palisard {

// A game held in this process's memory, laid out by the stand-in's layout:
// the code area at 0x400000 filling the searched range, the data area at
// 0x20000000. Its reads can be made to fail page by page or all at once.
class FakeGame {
 public:
  static constexpr uint32_t kDataAddress = 0x20000000;

  explicit FakeGame(int omitSignature = 0);

  gamesim::GameLayout& layout() { return *layout_; }
  void MakePageUnreadable(uint32_t address) { unreadablePages_.insert(address / 4096); }
  void SetRunning(bool running) { running_ = running; }
  bool running() const { return running_; }
  int readCalls() const { return readCalls_; }

  bool Read(uint64_t address, void* buffer, std::size_t size);
  // A view that reads this game; it must not outlive it.
  std::unique_ptr<ProcessMemory> Open();

 private:
  std::vector<uint8_t> code_;
  std::vector<uint8_t> data_;
  std::unique_ptr<gamesim::GameLayout> layout_;
  std::set<uint64_t> unreadablePages_;
  bool running_ = true;
  int readCalls_ = 0;
};

// A process table holding one FakeGame (while it runs) under id 4242.
class FakeGameProcesses final : public GameProcesses {
 public:
  explicit FakeGameProcesses(FakeGame& game) : game_(game) {}
  uint32_t FindGameProcess() override { return game_.running() ? 4242 : 0; }
  std::unique_ptr<ProcessMemory> OpenGameProcess(uint32_t processId) override {
    return processId == 4242 && game_.running() ? game_.Open() : nullptr;
  }

 private:
  FakeGame& game_;
};

}  // namespace palisard
