#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ipv4.h"
#include "game/client_entry.h"
#include "game/layout.h"
#include "game/match_data.h"

namespace palisard::gamesim {

// The game's side of what Palisard reads: a code area holding the five byte
// patterns, and a data area with the blocks their operands lead to, laid out
// as the game lays them out. The caller places both areas at fixed game
// addresses below 4 GiB; this class only writes their bytes.
class GameLayout {
 public:
  struct Area {
    uint32_t address;  // where the area lies in the game's address space
    uint8_t* bytes;
    std::size_t size;
  };

  static constexpr std::size_t kDataSize = 0x52000;
  // Room for as many slots as Palisard takes from a game.
  static constexpr int kMaxSlots = MatchData::kMaxClientsLimit;

  // Plants the patterns in `code` (at least 16 pages) and zeroes `data`
  // (kDataSize bytes). `omitSignature` 1..5 leaves that pattern out.
  GameLayout(Area code, Area data, int omitSignature = 0);

  void SetOwnId(uint64_t id);
  // Puts a player in `slot` (0 .. kMaxSlots - 1); id 0 empties it.
  void SetClient(int slot, const GameClientEntry& entry);
  void AddChatLine(const std::string& text);
  void SetChatCounters(int32_t head, int32_t start);
  void SetServer(const Ipv4Bytes& address, uint16_t port);
  void SetSlotCount(int32_t slots);
  // The text at offset 36 of the server info; slot counts are only taken
  // while it is not empty.
  void SetMapText(const std::string& text);

  // Game addresses of the blocks, as the signatures should resolve them.
  uint32_t ownIdAddress() const { return data_.address + kOwnIdOffset; }
  uint32_t chatAddress() const { return data_.address + kChatOffset; }
  uint32_t clientsAddress() const { return data_.address + kClientsOffset; }
  uint32_t serverInfoAddress() const { return data_.address + kServerInfoOffset; }
  uint32_t serverAddrAddress() const { return data_.address + kServerAddrOffset; }

 private:
  static constexpr std::size_t kOwnIdOffset = 0x0;
  static constexpr std::size_t kChatOffset = 0x100;
  static constexpr std::size_t kServerInfoOffset = 0x800;
  static constexpr std::size_t kServerAddrOffset = 0xC00;
  static constexpr std::size_t kClientsOffset = 0x1000;

  void PlantPatterns(int omitSignature);
  uint8_t* Data(std::size_t offset) { return data_.bytes + offset; }

  Area code_;
  Area data_;
};

}  // namespace palisard::gamesim
