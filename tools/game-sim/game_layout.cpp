#include "game_layout.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/byte_order.h"

namespace palisard::gamesim {
namespace {

constexpr std::size_t kPage = 4096;
// The patterns are kept XOR-ed with this byte: the stand-in's own image must
// not hold a second copy of them where Palisard searches (on Windows its
// image is the searched range).
constexpr uint8_t kVeil = 0x5A;

struct PlantedPattern {
  std::vector<uint8_t> veiled;  // pattern bytes ^ kVeil; wildcards are 0 ^ kVeil
  std::size_t operandOffset;
};

std::vector<uint8_t> Veil(std::initializer_list<int> bytes) {
  std::vector<uint8_t> veiled;
  for (int b : bytes) veiled.push_back(static_cast<uint8_t>(b));
  return veiled;
}

// Pre-veiled byte values (pattern ^ 0x5A), so the plain sequences appear
// nowhere in this program.
std::vector<PlantedPattern> Patterns() {
  std::vector<uint8_t> clients = Veil({0x32, 0x5A, 0x5A, 0x5A, 0x5A, 0x30, 0x5A, 0x32, 0x5A, 0x5A, 0x5A,
                                       0x5A, 0xB2, 0x5A, 0x5A, 0x5A, 0x5A, 0x32, 0x5A, 0x5A, 0x5A, 0x5A});
  for (int store = 0; store < 5; ++store) {
    std::vector<uint8_t> move = Veil({0x9D, 0x5F, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A});
    clients.insert(clients.end(), move.begin(), move.end());
  }
  std::vector<uint8_t> tail = Veil({0xB2, 0x5A, 0x5A, 0x5A, 0x5A, 0xD9, 0x9E, 0x4A, 0x99});
  clients.insert(clients.end(), tail.begin(), tail.end());
  return {
      {Veil({0xE3, 0x5A, 0x5A, 0x5A, 0x5A, 0x0D, 0xD7, 0x3E, 0x7E, 0x5A}), layout::kOwnIdOperandOffset},
      {Veil({0xD7, 0xD3, 0x5A, 0x5A, 0x5A, 0x5A, 0xD7, 0x5E, 0xC8, 0x9B, 0xBA, 0x5F}), layout::kChatOperandOffset},
      {clients, layout::kClientsOperandOffset},
      {Veil({0x09, 0x32, 0x5A, 0x5A, 0x5A, 0x5A, 0xB2, 0x5A, 0x5A, 0x5A, 0x5A,
             0x32, 0x5A, 0x5A, 0x5A, 0x5A, 0x09, 0x32, 0x5A, 0x5A, 0x5A, 0x5A}),
       layout::kServerInfoOperandOffset},
      {Veil({0x32, 0x5A, 0x5A, 0x5A, 0x5A, 0xB2, 0x5A, 0x5A, 0x5A, 0x5A, 0xD1, 0xA2, 0x0D}),
       layout::kServerAddressOperandOffset},
  };
}

}  // namespace

GameLayout::GameLayout(Area code, Area data, int omitSignature) : code_(code), data_(data) {
  std::memset(data_.bytes, 0, std::min(data_.size, kDataSize));
  PlantPatterns(omitSignature);
  SetSlotCount(18);
  SetMapText("mp_dome");
}

void GameLayout::PlantPatterns(int omitSignature) {
  // Filler that looks like code to the search: varied, deterministic bytes.
  uint32_t seed = 12345;
  for (std::size_t i = 0; i < code_.size; ++i) {
    seed = seed * 1103515245u + 12345u;
    code_.bytes[i] = static_cast<uint8_t>(seed >> 16);
  }
  const std::size_t pages = code_.size / kPage;
  // The first pattern at the very start of the area, the second across a page
  // boundary, the others spread up to the end.
  const std::size_t offsets[5] = {0, (pages / 2) * kPage - 5, (pages * 7 / 10) * kPage + 17,
                                  (pages * 85 / 100) * kPage + 3, code_.size - 96};
  const uint32_t operands[5] = {ownIdAddress(), chatAddress(), clientsAddress() - layout::kClientsPastOperand,
                                serverInfoAddress(), serverAddrAddress() - layout::kServerAddressPastOperand};
  std::vector<PlantedPattern> patterns = Patterns();
  for (int i = 0; i < 5; ++i) {
    uint8_t* at = code_.bytes + offsets[i];
    if (i + 1 == omitSignature) {
      std::memset(at, 0, patterns[i].veiled.size());
      continue;
    }
    for (std::size_t b = 0; b < patterns[i].veiled.size(); ++b) at[b] = patterns[i].veiled[b] ^ kVeil;
    WriteLe32(at + patterns[i].operandOffset, operands[i]);
  }
}

void GameLayout::SetOwnId(uint64_t id) { WriteLe64(Data(kOwnIdOffset), id); }

void GameLayout::SetClient(int slot, const GameClientEntry& entry) {
  if (slot < 0 || slot >= kMaxSlots) return;
  std::memcpy(Data(kClientsOffset + static_cast<std::size_t>(slot) * layout::kClientSize), entry.bytes.data(),
              layout::kClientSize);
}

void GameLayout::AddChatLine(const std::string& text) {
  using namespace layout;
  const int32_t head = static_cast<int32_t>(ReadLe32(Data(kChatOffset + kChatHeadOffset)));
  const std::size_t ringSlot = static_cast<std::size_t>(head) % kChatRingLines;
  char* line = reinterpret_cast<char*>(Data(kChatOffset + ringSlot * kChatLineStride));
  std::memset(line, 0, kChatLineStride);
  std::memcpy(line, text.data(), std::min<std::size_t>(text.size(), kChatLineStride - 1));
  // The start counter follows the head, so a copy that attaches later
  // captures only lines written after it.
  SetChatCounters(head + 1, head + 1);
}

void GameLayout::SetChatCounters(int32_t head, int32_t start) {
  WriteLe32(Data(kChatOffset + layout::kChatHeadOffset), static_cast<uint32_t>(head));
  WriteLe32(Data(kChatOffset + layout::kChatStartOffset), static_cast<uint32_t>(start));
}

void GameLayout::SetServer(const Ipv4Bytes& address, uint16_t port) {
  std::memcpy(Data(kServerAddrOffset), address.data(), address.size());
  WriteLe16(Data(kServerAddrOffset + layout::kServerPortOffset), port);
}

void GameLayout::SetSlotCount(int32_t slots) {
  WriteLe32(Data(kServerInfoOffset + layout::kSlotCountOffset), static_cast<uint32_t>(slots));
}

void GameLayout::SetMapText(const std::string& text) {
  // The text runs up to the slot count that follows it.
  const std::size_t room = layout::kSlotCountOffset - layout::kServerTextOffset;
  char* at = reinterpret_cast<char*>(Data(kServerInfoOffset + layout::kServerTextOffset));
  std::memset(at, 0, room);
  std::memcpy(at, text.data(), std::min<std::size_t>(text.size(), room - 1));
}

}  // namespace palisard::gamesim
