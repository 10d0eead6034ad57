#include "helpers/fake_game.h"

#include <cstring>

#include "game/signatures.h"

namespace palisard {
namespace {

class FakeGameMemory final : public ProcessMemory {
 public:
  explicit FakeGameMemory(FakeGame& game) : game_(game) {}
  bool Read(uint64_t address, void* buffer, std::size_t size) override { return game_.Read(address, buffer, size); }

 private:
  FakeGame& game_;
};

}  // namespace

FakeGame::FakeGame(int omitSignature) : code_(kScanSize), data_(gamesim::GameLayout::kDataSize) {
  layout_ = std::make_unique<gamesim::GameLayout>(gamesim::GameLayout::Area{kScanStart, code_.data(), code_.size()},
                                                  gamesim::GameLayout::Area{kDataAddress, data_.data(), data_.size()},
                                                  omitSignature);
}

bool FakeGame::Read(uint64_t address, void* buffer, std::size_t size) {
  ++readCalls_;
  if (!running_ || size == 0) return running_;
  for (uint64_t page = address / 4096; page <= (address + size - 1) / 4096; ++page) {
    if (unreadablePages_.count(page)) return false;
  }
  for (std::vector<uint8_t>* area : {&code_, &data_}) {
    uint64_t base = area == &code_ ? kScanStart : kDataAddress;
    if (address >= base && address + size <= base + area->size()) {
      std::memcpy(buffer, area->data() + (address - base), size);
      return true;
    }
  }
  return false;
}

std::unique_ptr<ProcessMemory> FakeGame::Open() { return std::make_unique<FakeGameMemory>(*this); }

}  // namespace palisard
