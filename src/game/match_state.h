#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/stopwatch.h"

namespace palisard {

// An IPv4 address as the game stores it: four bytes, first octet first.
using Ipv4Bytes = std::array<uint8_t, 4>;

// The address as one host-order value (first octet in the top 8 bits), the
// form the firewall takes.
uint32_t AddressToHostOrder(const Ipv4Bytes& address);

// One entry of the game's client table, kept in the game's own 320-byte
// layout and read through explicit offsets.
struct GameClientEntry {
  static constexpr std::size_t kSize = 320;
  static constexpr std::size_t kAddressOffset = 174;
  static constexpr std::size_t kPortOffset = 178;
  static constexpr std::size_t kCommunityIdOffset = 220;

  std::array<uint8_t, kSize> bytes{};

  // An entry for a player in the game's layout.
  static GameClientEntry For(const std::string& name, const Ipv4Bytes& address, uint16_t port, uint64_t id);

  // The NUL-terminated name at offset 0, colour codes included; bounded by
  // the address field that follows it.
  std::string Name() const;
  Ipv4Bytes Address() const;
  uint16_t Port() const;
  // 0 means the slot is empty.
  uint64_t CommunityId() const;

  void SetName(const std::string& name);
  void SetAddress(const Ipv4Bytes& address);
  void SetPort(uint16_t port);
  void SetCommunityId(uint64_t id);
};

// The program's own record of the player in one slot. It lives exactly as
// long as one player occupies the slot.
struct PlayerRecord {
  Ipv4Bytes ip{};
  uint16_t port = 0;
  uint64_t communityId = 0;  // 0 = empty slot
  uint32_t key = 0;          // registration key from the hosting copy; 0 = none
  std::vector<uint64_t> votedIds;  // ids this player has voted to kick
  Stopwatch voteTimer;             // started at this player's latest vote
  uint32_t votesAgainst = 0;
};

// The one shared picture of the match. The watcher writes the game copies;
// the admin, web and console threads read them and write their own fields.
//
// Locking: every field is guarded by `mutex`. Hold it briefly, copy out what
// is needed, and never hold it across network I/O, a firewall call or a
// ban-service call. The member functions expect the caller to hold it.
class MatchState {
 public:
  static constexpr uint32_t kDefaultMaxClients = 18;
  // A slot count outside 1..kMaxClientsLimit read from the game is not taken.
  static constexpr int32_t kMaxClientsLimit = 1024;
  static constexpr std::size_t kGameChatSize = 1320;
  static constexpr std::size_t kServerInfoSize = 404;
  static constexpr std::size_t kChatLogLines = 8;
  static constexpr std::size_t kChatLineSize = 160;

  MatchState();

  mutable std::mutex mutex;

  // Where the game keeps its data, found by the signature search.
  uint32_t ownIdAddress = 0;
  uint32_t chatAddress = 0;
  uint32_t clientsAddress = 0;
  uint32_t serverInfoAddress = 0;
  uint32_t serverAddrAddress = 0;

  uint64_t ownId = 0;
  std::array<uint8_t, kGameChatSize> gameChat{};
  std::array<uint8_t, kServerInfoSize> serverInfo{};
  uint32_t maxClients = kDefaultMaxClients;
  std::vector<GameClientEntry> clients;  // maxClients entries
  std::vector<PlayerRecord> players;     // maxClients records, by slot

  Ipv4Bytes serverIp{};
  uint16_t hostAdminPort = 0;
  uint64_t hostId = 0;
  bool gameFound = false;
  bool hostEnabled = false;
  bool registered = false;
  uint32_t registrationKey = 0;
  bool voteRequested = false;
  uint32_t votesNeeded = 0;

  // Last captured chat lines, cleaned and HTML-escaped; line k in slot k % 8.
  std::array<std::array<char, kChatLineSize>, kChatLogLines> chatLog{};
  uint32_t chatLineCount = 0;

  // This copy hosts the match. True while both ids are still 0.
  bool IsHosting() const { return hostId == ownId; }

  // Zeroes every client entry and player record (a new game was found).
  void ClearSlots();

  // Takes a new slot count from the game: keeps the first records, zeroes
  // the added ones. Returns false, changing nothing, for a count outside
  // 1..kMaxClientsLimit.
  bool Resize(int32_t newMaxClients);

  // After a read of `clients`: a slot whose community id changed gets a
  // fresh record; every record then takes its slot's address, port and id.
  void SyncPlayerRecords();

  // Number of present players whose votes include `communityId`; a record
  // counts once however often it holds the id.
  uint32_t CountVotesAgainst(uint64_t communityId) const;
};

}  // namespace palisard
