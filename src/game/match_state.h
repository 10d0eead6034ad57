#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
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
  uint64_t communityId = 0;        // 0 = empty slot
  uint32_t key = 0;                // registration key from the hosting copy; 0 = none
  std::vector<uint64_t> votedIds;  // ids this player has voted to kick
  Stopwatch voteTimer;             // started at this player's latest vote
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
  static constexpr std::size_t kGameChatSize = 1320;
  static constexpr std::size_t kServerInfoSize = 404;
  static constexpr std::size_t kChatLogLines = 8;
  static constexpr std::size_t kChatLineSize = 160;

  using GameChat = std::array<uint8_t, kGameChatSize>;
  using ServerInfo = std::array<uint8_t, kServerInfoSize>;

  MatchData();

  GameAddresses addresses;
  uint64_t ownId = 0;
  GameChat gameChat{};
  ServerInfo serverInfo{};
  uint32_t maxClients = kDefaultMaxClients;
  std::vector<GameClientEntry> clients;  // maxClients entries
  std::vector<PlayerRecord> players;     // maxClients records, by slot

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

  // The chat lines kept for the page, oldest first.
  std::vector<std::string> ChatLog() const;
};

// What the copy-to-host link needs of the match, without the slots.
struct HostLink {
  uint64_t ownId = 0;
  bool hosting = false;
  bool gameFound = false;
  Ipv4Bytes serverIp{};
  uint32_t serverGeneration = 0;
  uint16_t hostAdminPort = 0;
  bool hostEnabled = false;
  bool registered = false;
  uint32_t registrationKey = 0;
  bool voteRequested = false;

  bool operator==(const HostLink&) const = default;
};

// What a server change did, for the watcher to tell.
struct ServerUpdate {
  bool changed = false;
  // Names of the slots that matched the new server, in slot order.
  std::vector<std::string> hostNames;
};

// The outcome of one vote-kick.
struct VoteOutcome {
  enum Kind { kRecorded, kInvalidId, kInvalidKey, kCoolingDown, kAlreadyVoted };
  Kind kind = kRecorded;
  int waitSeconds = 0;         // kCoolingDown: whole seconds left, rounded up
  bool kick = false;           // kRecorded: the votes reached the threshold
  uint32_t targetAddress = 0;  // kRecorded: host order
};

// The one shared picture of the match. The watcher writes the game copies;
// the admin, web and console threads read them and write their own fields,
// each through one operation below that holds the lock for its whole run.
//
// Thread-safe. No operation calls out (network, firewall, ban service)
// while it holds the lock.
class MatchState {
 public:
  using KeySource = std::function<uint32_t()>;
  // Whether a registration from the player in a slot is let in: the slot's
  // address, and whether the player hosts.
  using Admission = std::function<bool(const Ipv4Bytes& slotAddress, bool isHost)>;

  // A copy of the whole picture, for the pages, the console and tests.
  MatchData Snapshot() const LOCKS_EXCLUDED(mutex_);
  HostLink Link() const LOCKS_EXCLUDED(mutex_);
  bool IsHosting() const LOCKS_EXCLUDED(mutex_);

  // The watcher's side.
  void ClearSlots() LOCKS_EXCLUDED(mutex_);
  void SetGameAddresses(const GameAddresses& addresses) LOCKS_EXCLUDED(mutex_);
  GameAddresses Addresses() const LOCKS_EXCLUDED(mutex_);
  void MarkGameFound() LOCKS_EXCLUDED(mutex_);
  // The first blocks of a read pass. A new slot count is taken only while
  // the server text is not empty; `slotsChanged` tells whether it was.
  // Returns the slot count to read the client table with.
  uint32_t ApplyGameInfo(uint64_t ownId, const MatchData::GameChat& chat, const MatchData::ServerInfo& info,
                         bool* slotsChanged) LOCKS_EXCLUDED(mutex_);
  // The rest of a read pass: the client table (as many entries as
  // ApplyGameInfo said) and the server's address. A new server address
  // (the port alone is no change) resets the link to the host and finds
  // the host among the slots; the last matching slot wins.
  ServerUpdate ApplyClientsAndServer(std::vector<GameClientEntry> clients, const Ipv4Bytes& serverIp,
                                     uint16_t serverPort) LOCKS_EXCLUDED(mutex_);
  MatchData::GameChat GameChat() const LOCKS_EXCLUDED(mutex_);
  // Keeps captured lines (already cleaned, escaped and cut) for the page.
  void AppendChatLines(const std::vector<std::string>& lines) LOCKS_EXCLUDED(mutex_);

  // The hosting service's side.
  // Gives the player `communityId` its key (a new one from `newKey` when it
  // has none) when `admit` lets it in; nothing otherwise, and never for 0.
  std::optional<uint32_t> RegisterPlayer(uint64_t communityId, const Admission& admit, const KeySource& newKey)
      LOCKS_EXCLUDED(mutex_);
  // Checks and records one vote: ids present, key, cool-down, no repeat;
  // then recounts the votes against the target.
  VoteOutcome RecordVote(uint64_t voterId, uint32_t key, uint64_t targetId, const Clock& clock, int64_t coolDownMs)
      LOCKS_EXCLUDED(mutex_);
  // Half the registered players, rounded up, and at least 1.
  void RecomputeVotesNeeded() LOCKS_EXCLUDED(mutex_);

  // The link to the host (every copy's side). Each takes the server
  // generation of the HostLink its exchange began with, and changes nothing
  // when the server has changed since: the answer was the old host's.
  //
  // The host answered a probe on the current port; false when that was
  // the old server.
  bool HostAnswered(uint32_t serverGeneration) LOCKS_EXCLUDED(mutex_);
  // Nothing answered on the current port: the next one (the first past the
  // last); or, when the host had answered before, the host is lost: a new
  // search from the first port, without the registration it gave.
  void HostSilent(uint32_t serverGeneration) LOCKS_EXCLUDED(mutex_);
  void SetRegistration(uint32_t serverGeneration, bool registered, uint32_t key) LOCKS_EXCLUDED(mutex_);
  // A whole vote table from the host: the threshold and, for every slot
  // holding one of its ids, that id's count. Records with id 0 (the host's
  // empty slots) are skipped.
  void ApplyVoteTable(uint32_t serverGeneration, uint32_t votesNeeded,
                      const std::vector<std::pair<uint64_t, uint32_t>>& counts) LOCKS_EXCLUDED(mutex_);
  // Marks that this copy asked for a vote-kick; false, marking nothing, when
  // the host runs no admin service.
  bool RequestVote() LOCKS_EXCLUDED(mutex_);

  // Waiting for the link to change (the server, the hosting, the host's
  // service, the registration, a vote request), so that the threads that
  // follow it sleep rather than poll. Take the version, look at the link,
  // then wait with that version: no change in between is missed.
  uint64_t LinkVersion() const;
  // Returns once the link changed since `seen`, or after `timeout`.
  void WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout) const;

  // For tests: sets up a situation in one step.
  void EditForTest(const std::function<void(MatchData&)>& edit) LOCKS_EXCLUDED(mutex_);

  // A present player (nonzero id) plays from `hostOrderAddress`.
  bool HasPlayerAt(uint32_t hostOrderAddress) const LOCKS_EXCLUDED(mutex_);

 private:
  class LinkChange;

  HostLink LinkLocked() const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void NotifyLinkChanged() const;

  mutable Mutex mutex_;
  MatchData data_ GUARDED_BY(mutex_);

  // Lock order: mutex_, then waitMutex_.
  mutable std::mutex waitMutex_;
  mutable std::condition_variable linkChanged_;
  mutable std::atomic<uint64_t> linkVersion_{0};
};

}  // namespace palisard
