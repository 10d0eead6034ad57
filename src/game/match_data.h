#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/ipv4.h"
#include "common/stopwatch.h"
#include "game/chat_log.h"
#include "game/client_entry.h"
#include "game/layout.h"

namespace palisard {

// The program's own record of the player in one slot. It lives exactly as
// long as one player occupies the slot, and its votes go with it.
struct PlayerRecord {
  Ipv4Bytes ip{};
  uint16_t port = 0;
  uint64_t communityId = 0;        // 0 = empty slot
  uint32_t key = 0;                // registration key from the hosting copy; 0 = none
  std::vector<uint64_t> votedIds;  // ids this player has voted to kick
  Stopwatch voteTimer;             // started at this player's latest vote
  // On a copy that does not host: the count the host's last vote table gave
  // this player. The hosting copy derives its counts (vote_book.h) instead.
  uint32_t votesAgainst = 0;
};

// Where the game keeps its data, found by the signature search.
struct GameAddresses {
  uint32_t ownId = 0;
  uint32_t chat = 0;
  uint32_t clients = 0;
  uint32_t serverInfo = 0;
  uint32_t serverAddr = 0;
};

// The picture of the match as a plain value: what the watcher read last and
// what the admin, web and console threads added. A copy of it is a snapshot
// of one moment; the shared one lives inside MatchState.
struct MatchData {
  static constexpr uint32_t kDefaultMaxClients = 18;
  // A slot count outside 1..kMaxClientsLimit read from the game is not taken.
  static constexpr int32_t kMaxClientsLimit = 1024;

  using GameChat = std::array<uint8_t, layout::kChatSize>;
  using ServerInfo = std::array<uint8_t, layout::kServerInfoSize>;

  MatchData();

  GameAddresses addresses;
  uint64_t ownId = 0;
  GameChat gameChat{};
  ServerInfo serverInfo{};
  uint32_t maxClients = kDefaultMaxClients;
  std::vector<GameClientEntry> clients;  // maxClients entries
  std::vector<PlayerRecord> players;     // maxClients records, by slot

  // The link to the host (host_link.h has its rules).
  Ipv4Bytes serverIp{};
  // Counts server changes, so that an exchange can tell whether the server
  // it began with is still the current one (even after A, B, then A again).
  uint32_t serverGeneration = 0;
  uint16_t hostAdminPort = 0;
  uint64_t hostId = 0;
  bool gameFound = false;
  bool hostEnabled = false;
  bool registered = false;
  uint32_t registrationKey = 0;
  // When this copy's player last asked for a vote-kick (clock ms).
  std::optional<int64_t> voteRequestedAtMs;
  // On a copy that does not host: the threshold of the host's last vote
  // table. The hosting copy derives its own (vote_book.h).
  uint32_t votesNeeded = 0;

  ChatLog chatLog;

  // Zeroes every client entry and player record (a new game was found).
  void ClearSlots();

  // Takes a new slot count from the game: keeps the first records, zeroes
  // the added ones. Returns false, changing nothing, for a count outside
  // 1..kMaxClientsLimit.
  bool Resize(int32_t newMaxClients);

  // After a read of `clients`: a slot whose community id changed gets a
  // fresh record; every record then takes its slot's address, port and id.
  void SyncPlayerRecords();
};

// The one answer to "who hosts", asked two ways. The host is the player the
// game showed at the server's address and port when the server changed
// (`hostId`); nobody else compares that id.

// Who hosts the match, and in which slot.
struct HostSeat {
  uint64_t id = 0;
  std::size_t slot = 0;
};

// The host's seat: the last slot holding its id. Nothing without a server,
// before the host is known, or once the host has left.
std::optional<HostSeat> WhoHosts(const MatchData& match);

// This copy hosts the match: the host's id is its own. True while both are
// still 0 (before the first game, or while the game reports no own id), so
// the admin port answers and the hosting duties run until a host is known.
bool IsHosting(const MatchData& match);

}  // namespace palisard
