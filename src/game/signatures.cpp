#include "game/signatures.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "common/byte_order.h"
#include "common/console_output.h"

namespace palisard {
namespace {

std::vector<uint8_t> ClientTablePattern() {
  std::vector<uint8_t> pattern = {0x68, 0, 0, 0, 0, 0x6A, 0x00, 0x68, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x68, 0, 0, 0, 0};
  for (int store = 0; store < 5; ++store) {
    pattern.insert(pattern.end(), {0xC7, 0x05, 0, 0, 0, 0, 0, 0, 0, 0});
  }
  pattern.insert(pattern.end(), {0xE8, 0, 0, 0, 0, 0x83, 0xC4, 0x10, 0xC3});
  return pattern;
}

// Bytes that are common in x86 code make poor anchors for the search.
int Commonness(uint8_t value) {
  if (value == 0x00) return 3;
  switch (value) {
    case 0xFF: case 0xCC: case 0x90: case 0x8B: case 0x89: case 0xE8: case 0x24: case 0x83: case 0x68:
      return 2;
    default:
      return 1;
  }
}

// The fixed position whose byte is least common, to search for with memchr.
std::size_t AnchorIndex(const uint8_t* pattern, const char* mask, std::size_t length) {
  std::size_t best = length;
  for (std::size_t i = 0; i < length; ++i) {
    if (mask[i] != 'x') continue;
    if (best == length || Commonness(pattern[i]) < Commonness(pattern[best])) best = i;
  }
  return best;
}

bool MatchesAt(const uint8_t* bytes, const uint8_t* pattern, const char* mask, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (mask[i] == 'x' && bytes[i] != pattern[i]) return false;
  }
  return true;
}

}  // namespace

const std::array<Signature, 5>& GameSignatures() {
  static const std::array<Signature, 5> signatures = {{
      {"x????xxxxx", {0xB9, 0, 0, 0, 0, 0x57, 0x8D, 0x64, 0x24, 0x00}, 1, 0, &MatchState::ownIdAddress,
       "Problem finding steam id..\n"},
      {"xx????xxxxxx", {0x8D, 0x89, 0, 0, 0, 0, 0x8D, 0x04, 0x92, 0xC1, 0xE0, 0x05}, 2, 0, &MatchState::chatAddress,
       "Problem finding chat info..\n"},
      {"x????xxx????x????x????xx????????xx????????xx????????xx????????xx????????x????xxxx", ClientTablePattern(), 64,
       48, &MatchState::clientsAddress, "Problem finding connection info..\n"},
      {"xx????x????x????xx????",
       {0x53, 0x68, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x68, 0, 0, 0, 0, 0x53, 0x68, 0, 0, 0, 0}, 2, 0,
       &MatchState::serverInfoAddress, "Problem finding server info..\n"},
      {"x????x????xxx", {0x68, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x8B, 0xF8, 0x57}, 1, 7814,
       &MatchState::serverAddrAddress, "Problem finding server address info..\n"},
  }};
  return signatures;
}

MemorySnapshot MemorySnapshot::Read(ProcessMemory& memory, uint32_t start, uint32_t size) {
  // Large pieces keep the number of cross-process calls small; a piece that
  // fails whole (an unreadable page inside) is read again page by page.
  constexpr uint32_t kPiece = 64 * kPageSize;
  MemorySnapshot snapshot;
  snapshot.start_ = start;
  snapshot.bytes_.assign(size, 0);
  snapshot.pageRead_.assign((size + kPageSize - 1) / kPageSize, false);
  for (uint32_t offset = 0; offset < size; offset += kPiece) {
    uint32_t length = std::min(kPiece, size - offset);
    uint8_t* target = snapshot.bytes_.data() + offset;
    if (memory.Read(uint64_t{start} + offset, target, length)) {
      std::fill_n(snapshot.pageRead_.begin() + offset / kPageSize, (length + kPageSize - 1) / kPageSize, true);
      continue;
    }
    for (uint32_t page = offset; page < offset + length; page += kPageSize) {
      uint32_t pageLength = std::min(kPageSize, offset + length - page);
      uint8_t* pageTarget = snapshot.bytes_.data() + page;
      if (memory.Read(uint64_t{start} + page, pageTarget, pageLength)) {
        snapshot.pageRead_[page / kPageSize] = true;
      } else {
        std::memset(pageTarget, 0, pageLength);
      }
    }
  }
  return snapshot;
}

bool MemorySnapshot::Readable(std::size_t offset, std::size_t length) const {
  if (length == 0) return true;
  for (std::size_t page = offset / kPageSize; page <= (offset + length - 1) / kPageSize; ++page) {
    if (page >= pageRead_.size() || !pageRead_[page]) return false;
  }
  return true;
}

uint32_t ScanGameMemory(const MemorySnapshot& image, const uint8_t* pattern, const char* mask) {
  const std::size_t length = std::strlen(mask);
  const std::vector<uint8_t>& bytes = image.bytes();
  if (length == 0 || length > bytes.size()) return 0;
  const std::size_t anchor = AnchorIndex(pattern, mask, length);
  const std::size_t lastStart = bytes.size() - length;

  if (anchor == length) {  // all wildcards: the first readable window
    for (std::size_t p = 0; p <= lastStart; ++p) {
      if (image.Readable(p, length)) return image.start() + static_cast<uint32_t>(p);
    }
    return 0;
  }
  // Anchor hits come in increasing order, so the first verified candidate is
  // the first match in the range.
  const uint8_t* base = bytes.data();
  const uint8_t* cursor = base + anchor;
  const uint8_t* end = base + lastStart + anchor + 1;
  while (cursor < end) {
    const void* hit = std::memchr(cursor, pattern[anchor], static_cast<std::size_t>(end - cursor));
    if (hit == nullptr) break;
    std::size_t p = static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - base) - anchor;
    if (MatchesAt(base + p, pattern, mask, length) && image.Readable(p, length)) {
      return image.start() + static_cast<uint32_t>(p);
    }
    cursor = static_cast<const uint8_t*>(hit) + 1;
  }
  return 0;
}

bool ResolveGameAddresses(ProcessMemory& memory, MatchState& state) {
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.ClearSlots();
  }
  MemorySnapshot image = MemorySnapshot::Read(memory, kScanStart, kScanSize);
  for (const Signature& signature : GameSignatures()) {
    uint32_t match = ScanGameMemory(image, signature.pattern.data(), signature.mask);
    if (match == 0) {
      Print("%s", signature.failureMessage);
      return false;
    }
    // The operand lies inside the matched window, which the snapshot holds.
    uint32_t operand = ReadLe32(image.bytes().data() + (match - kScanStart) + signature.operandOffset);
    std::lock_guard<std::mutex> lock(state.mutex);
    state.*signature.field = operand + signature.addend;
  }
  return true;
}

}  // namespace palisard
