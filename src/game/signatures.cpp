#include "game/signatures.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "common/byte_order.h"
#include "common/console_output.h"
#include "game/layout.h"

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
    case 0xFF:
    case 0xCC:
    case 0x90:
    case 0x8B:
    case 0x89:
    case 0xE8:
    case 0x24:
    case 0x83:
    case 0x68:
      return 2;
    default:
      return 1;
  }
}

// The two fixed positions whose bytes are least common: the search looks for
// both at once, 16 positions at a time. With a single fixed byte both are it.
std::pair<std::size_t, std::size_t> AnchorPair(const uint8_t* pattern, const char* mask, std::size_t length) {
  std::size_t first = length;
  std::size_t second = length;
  auto rarer = [&](std::size_t a, std::size_t b) {
    return b == length || Commonness(pattern[a]) < Commonness(pattern[b]);
  };
  for (std::size_t i = 0; i < length; ++i) {
    if (mask[i] != 'x') continue;
    if (rarer(i, first)) {
      second = first;
      first = i;
    } else if (rarer(i, second)) {
      second = i;
    }
  }
  return {first, second == length ? first : second};
}

bool MatchesAt(const uint8_t* bytes, const uint8_t* pattern, const char* mask, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (mask[i] == 'x' && bytes[i] != pattern[i]) return false;
  }
  return true;
}

}  // namespace

const std::array<Signature, 5>& GameSignatures() {
  // Never destroyed: the watcher thread may search while the process exits.
  using namespace layout;
  static const std::array<Signature, 5>* signatures = new std::array<Signature, 5>{{
      {"x????xxxxx",
       {0xB9, 0, 0, 0, 0, 0x57, 0x8D, 0x64, 0x24, 0x00},
       kOwnIdOperandOffset,
       0,
       &GameAddresses::ownId,
       "Problem finding steam id..\n"},
      {"xx????xxxxxx",
       {0x8D, 0x89, 0, 0, 0, 0, 0x8D, 0x04, 0x92, 0xC1, 0xE0, 0x05},
       kChatOperandOffset,
       0,
       &GameAddresses::chat,
       "Problem finding chat info..\n"},
      {"x????xxx????x????x????xx????????xx????????xx????????xx????????xx????????x????xxxx", ClientTablePattern(),
       kClientsOperandOffset, kClientsPastOperand, &GameAddresses::clients, "Problem finding connection info..\n"},
      {"xx????x????x????xx????",
       {0x53, 0x68, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x68, 0, 0, 0, 0, 0x53, 0x68, 0, 0, 0, 0},
       kServerInfoOperandOffset,
       0,
       &GameAddresses::serverInfo,
       "Problem finding server info..\n"},
      {"x????x????xxx",
       {0x68, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x8B, 0xF8, 0x57},
       kServerAddressOperandOffset,
       kServerAddressPastOperand,
       &GameAddresses::serverAddr,
       "Problem finding server address info..\n"},
  }};
  return *signatures;
}

MemorySnapshot MemorySnapshot::Read(ProcessMemory& memory, uint32_t start, uint32_t size) {
  // Large pieces keep the number of cross-process calls small; a piece that
  // fails whole (an unreadable page inside) is read again page by page.
  constexpr uint32_t kPiece = 64 * kPageSize;
  MemorySnapshot snapshot;
  snapshot.start_ = start;
  snapshot.size_ = size;
  snapshot.bytes_.reset(new uint8_t[size]);
  snapshot.pageRead_.assign((size + kPageSize - 1) / kPageSize, false);
  // Usually the whole range reads in one call.
  if (memory.Read(start, snapshot.bytes_.get(), size)) {
    snapshot.pageRead_.assign(snapshot.pageRead_.size(), true);
    return snapshot;
  }
  for (uint32_t offset = 0; offset < size; offset += kPiece) {
    uint32_t length = std::min(kPiece, size - offset);
    uint8_t* target = snapshot.bytes_.get() + offset;
    if (memory.Read(uint64_t{start} + offset, target, length)) {
      std::fill_n(snapshot.pageRead_.begin() + offset / kPageSize, (length + kPageSize - 1) / kPageSize, true);
      continue;
    }
    for (uint32_t page = offset; page < offset + length; page += kPageSize) {
      uint32_t pageLength = std::min(kPageSize, offset + length - page);
      uint8_t* pageTarget = snapshot.bytes_.get() + page;
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
  if (length == 0 || length > image.size()) return 0;
  const std::size_t positions = image.size() - length + 1;
  const uint8_t* base = image.data();
  auto matches = [&](std::size_t p) { return MatchesAt(base + p, pattern, mask, length) && image.Readable(p, length); };

  const auto [a, b] = AnchorPair(pattern, mask, length);
  if (a == length) {  // all wildcards: the first readable window
    for (std::size_t p = 0; p < positions; ++p) {
      if (image.Readable(p, length)) return image.start() + static_cast<uint32_t>(p);
    }
    return 0;
  }
  // Both anchor bytes are compared for 16 positions at once; only positions
  // where both agree are checked whole. Blocks go in increasing order, and
  // bits within a block too, so the first match found is the first in range.
  const __m128i wantA = _mm_set1_epi8(static_cast<char>(pattern[a]));
  const __m128i wantB = _mm_set1_epi8(static_cast<char>(pattern[b]));
  std::size_t p = 0;
  for (; p + 16 <= positions; p += 16) {
    __m128i atA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + a));
    __m128i atB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + b));
    unsigned hits =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(atA, wantA), _mm_cmpeq_epi8(atB, wantB))));
    while (hits != 0) {
      std::size_t candidate = p + static_cast<std::size_t>(__builtin_ctz(hits));
      if (matches(candidate)) return image.start() + static_cast<uint32_t>(candidate);
      hits &= hits - 1;
    }
  }
  for (; p < positions; ++p) {
    if (matches(p)) return image.start() + static_cast<uint32_t>(p);
  }
  return 0;
}

bool ResolveGameAddresses(ProcessMemory& memory, MatchState& state, ConsoleSink& console) {
  state.ClearSlots();
  MemorySnapshot image = MemorySnapshot::Read(memory, kScanStart, kScanSize);
  GameAddresses addresses = state.Addresses();
  bool found = true;
  for (const Signature& signature : GameSignatures()) {
    uint32_t match = ScanGameMemory(image, signature.pattern.data(), signature.mask);
    if (match == 0) {
      console.Print("%s", signature.failureMessage);
      found = false;
      break;
    }
    // The operand lies inside the matched window, which the snapshot holds.
    uint32_t operand = ReadLe32(image.data() + (match - kScanStart) + signature.operandOffset);
    addresses.*signature.field = operand + signature.addend;
  }
  state.SetGameAddresses(addresses);
  return found;
}

}  // namespace palisard
