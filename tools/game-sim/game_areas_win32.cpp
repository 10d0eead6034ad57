#include <cstdint>
#include <cstdio>

#include "game_areas.h"

namespace palisard::gamesim {
namespace {

// Inside the image, which is linked at 0x400000 without relocation, so both
// lie in the searched range and below 4 GiB, as the game's own data does.
alignas(4096) uint8_t codeArea[16 * 4096];
alignas(4096) uint8_t dataArea[GameLayout::kDataSize];

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

bool BecomeGameProcess(GameAreas* areas) {
  // The executable itself is named iw5mp.exe.
  if (reinterpret_cast<uintptr_t>(dataArea) + sizeof(dataArea) > 0xFFFFFFFFu ||
      reinterpret_cast<uintptr_t>(codeArea) + sizeof(codeArea) > 0x7F0000u) {
    std::fprintf(stderr, "image not at its fixed base: code area at %p\n", static_cast<void*>(codeArea));
    return false;
  }
  areas->code = {AddressOf(codeArea), codeArea, sizeof(codeArea)};
  areas->data = {AddressOf(dataArea), dataArea, sizeof(dataArea)};
  return true;
}

}  // namespace palisard::gamesim
