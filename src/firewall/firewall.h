#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "common/result.h"
#include "common/stopwatch.h"
#include "firewall/filter_engine.h"

namespace palisard {

// Why a player was blocked, for whoever lists the blocks.
enum class BlockReason { kVotes, kBan, kReport };
const char* BlockReasonName(BlockReason reason);

// One blocked player: found by the community id in the key's first 8 bytes.
struct BlockRecord {
  BlockKey key{};
  uint64_t filterId = 0;
  uint32_t address = 0;  // host order, first octet in the top 8 bits
  Stopwatch timer;       // started when the block was made
  BlockReason reason = BlockReason::kVotes;

  uint64_t CommunityId() const { return BlockKeyCommunityId(key); }
};

// A block whose filter the engine would not delete, with the engine's answer.
struct UnliftedBlock {
  BlockRecord record;
  uint32_t error = 0;
};

// Whether a block stands after BlockPlayer: made by this call (ok), or
// in force already at that address (kConflict). Only a block made now is a
// new kick.
bool InForce(const Result& blocked);

// The kick: a list of blocks, each one filter in the system's packet filter
// dropping a player's inbound IPv4 traffic.
//
// A record stays as long as its filter may be in force: a delete the engine
// refuses keeps the record, so a later UnblockPlayer, sweep or ClearBlocks
// tries again; a filter the engine no longer knows counts as lifted.
//
// Thread-safe: each operation holds the firewall's lock for its whole run.
// The engine and the clock must outlive the object.
class Firewall {
 public:
  static constexpr uint32_t kNoSuchBlock = 1;
  static constexpr uint32_t kNotOpen = 101;
  static constexpr uint32_t kRefused = 102;
  static constexpr uint32_t kAlreadyInitialized = 1247;  // ERROR_ALREADY_INITIALIZED
  static constexpr uint32_t kAlreadyExists = FilterEngine::kAlreadyExists;

  using Predicate = std::function<bool(BlockRecord)>;

  Firewall(FilterEngine& engine, const Clock& clock);
  // Lifts every block and closes the engine.
  virtual ~Firewall();
  Firewall(const Firewall&) = delete;
  Firewall& operator=(const Firewall&) = delete;

  // Every failure carries its code: one of the Firewall's own below, or the
  // engine's. Any operation before a successful Initialize fails
  // kUnavailable (101), and after Shutdown kClosed (101).

  // Opens the engine; kConflict (1247) when already open.
  virtual Result Initialize();
  // Blocks `address` for `communityId`: ok when this call made the block.
  // kInvalid (102) for address 0 or id 0; kConflict (102) when the id is
  // blocked at that address already. A block of the id at another address
  // is lifted first (if that fails, its error, and the old block stays). A
  // filter with the same key left in the engine by an earlier run is
  // replaced by one of this session. Any other failure means nothing was
  // recorded. `reason` is kept with the block for whoever lists it.
  virtual Result BlockPlayer(uint32_t address, uint64_t communityId, BlockReason reason = BlockReason::kVotes);
  // Lifts the first block of `communityId`; kNotFound (1) when there is none.
  virtual Result UnblockPlayer(uint64_t communityId);
  // Forgets every block with the record's community id and deletes the
  // record's own filter.
  virtual Result RemoveBlock(BlockRecord record);
  // Lifts every block for which `predicate` holds.
  virtual void RemoveBlocksIf(const Predicate& predicate);
  virtual void ClearBlocks();

  // The exit paths: lifts every block and closes the engine, so that later
  // calls find it closed (101). Waits at most `lockWait` for an operation in
  // progress: kTimedOut, and nothing done, when it did not get the lock.
  // Otherwise `unlifted` receives the blocks whose filters could not be
  // deleted (the engine's close may still take them: its session is
  // dynamic).
  Result Shutdown(std::chrono::milliseconds lockWait, std::vector<UnliftedBlock>* unlifted);

  // A copy of the current blocks, in the order they were made.
  std::list<BlockRecord> Blocks() const;

 private:
  Result UnblockPlayerLocked(uint64_t communityId) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Deletes the record's filter; true when it is gone (deleted, or unknown
  // to the engine), so the record may go.
  bool LiftLocked(const BlockRecord& record, uint32_t* result) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  std::vector<UnliftedBlock> ClearBlocksLocked() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  std::vector<UnliftedBlock> ShutdownLocked() EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  FilterEngine& engine_ GUARDED_BY(mutex_);
  const Clock& clock_;
  mutable Mutex mutex_;
  bool open_ GUARDED_BY(mutex_) = false;
  bool shutDown_ GUARDED_BY(mutex_) = false;
  std::list<BlockRecord> blocks_ GUARDED_BY(mutex_);
};

// The console line for a block that is not in force: "Could not block ID
// ( a.b.c.d ): CODE" with the code in hexadecimal.
std::string BlockFailureLine(uint64_t communityId, uint32_t address, const Result& result);

// The watcher's expiry rule: a block is lifted once its timer reaches 5.0
// computed minutes (about 299.94 s).
bool IsBlockExpired(const BlockRecord& record, const Clock& clock);
// How long the block has left by that rule; zero once expired.
std::chrono::milliseconds BlockTimeLeft(const BlockRecord& record, const Clock& clock);

}  // namespace palisard
