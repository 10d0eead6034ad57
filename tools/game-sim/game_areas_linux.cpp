#include <sys/mman.h>
#include <sys/prctl.h>

#include <cstdio>

#include "game/process_memory.h"
#include "game/signatures.h"
#include "game_areas.h"

namespace palisard::gamesim {
namespace {

constexpr uint32_t kDataAddress = 0x20000000;

uint8_t* MapAt(uint32_t address, std::size_t size) {
  void* at = mmap(reinterpret_cast<void*>(uintptr_t{address}), size, PROT_READ | PROT_WRITE,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (at == MAP_FAILED || at != reinterpret_cast<void*>(uintptr_t{address})) {
    std::fprintf(stderr, "cannot map 0x%x bytes at 0x%x\n", static_cast<unsigned>(size), address);
    return nullptr;
  }
  return static_cast<uint8_t*>(at);
}

}  // namespace

bool BecomeGameProcess(GameAreas* areas) {
  // As the game looks under Wine: /proc/PID/comm is exactly the image name.
  prctl(PR_SET_NAME, palisard::kGameProcessName, 0, 0, 0);
  uint8_t* code = MapAt(kScanStart, kScanSize);
  uint8_t* data = MapAt(kDataAddress, GameLayout::kDataSize);
  if (code == nullptr || data == nullptr) return false;
  areas->code = {kScanStart, code, kScanSize};
  areas->data = {kDataAddress, data, GameLayout::kDataSize};
  return true;
}

}  // namespace palisard::gamesim
