#include "firewall/firewall.h"

#include "common/ipv4.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace palisard {

namespace {

Result Own(Result::Kind kind, uint32_t code) { return Result::Failure(kind, code); }

// The engine's answer: 0, or its error code.
Result Engine(uint32_t code) { return code == 0 ? Result::Ok() : Result::Failure(Result::Kind::kFailed, code); }

bool IsGone(uint32_t deleted) { return deleted == 0 || deleted == FilterEngine::kFilterNotFound; }

}  // namespace

Firewall::Firewall(FilterEngine& engine, const Clock& clock) : engine_(engine), clock_(clock) {}

Firewall::~Firewall() {
  MutexLock lock(mutex_);
  ShutdownLocked();
}

const char* BlockReasonName(BlockReason reason) {
  switch (reason) {
    case BlockReason::kVotes:
      return "votes";
    case BlockReason::kBan:
      return "ban";
    case BlockReason::kReport:
      return "report";
  }
  return "?";
}

bool InForce(const Result& blocked) { return blocked.ok() || blocked.kind() == Result::Kind::kConflict; }

Result Firewall::Initialize() {
  MutexLock lock(mutex_);
  if (open_) return Own(Result::Kind::kConflict, kAlreadyInitialized);
  const uint32_t result = engine_.Open();
  open_ = result == 0;
  return Engine(result);
}

Result Firewall::BlockPlayer(uint32_t address, uint64_t communityId, BlockReason reason) {
  MutexLock lock(mutex_);
  if (!open_) return Own(shutDown_ ? Result::Kind::kClosed : Result::Kind::kUnavailable, kNotOpen);
  if (address == 0 || communityId == 0) return Own(Result::Kind::kInvalid, kRefused);

  auto existing = std::find_if(blocks_.begin(), blocks_.end(),
                               [&](const BlockRecord& r) { return r.CommunityId() == communityId; });
  if (existing != blocks_.end()) {
    if (existing->address == address) return Own(Result::Kind::kConflict, kRefused);
    const Result lifted = UnblockPlayerLocked(communityId);
    // The old filter holds the key still: adding would only collide with it.
    if (!lifted.ok()) return lifted;
  }

  BlockRecord record;
  record.key = MakeBlockKey(communityId);
  record.address = address;
  record.reason = reason;
  uint32_t result = engine_.AddBlockFilter(record.key, address, &record.filterId);
  if (result == kAlreadyExists) {
    // A filter with this key outlived an earlier run (an older build made
    // lasting ones). Replace it with one of this session, so the record
    // holds an id that lifts the block and the block ends with the session.
    const uint32_t deleted = engine_.DeleteFilterByKey(record.key);
    if (!IsGone(deleted)) return Engine(deleted);
    result = engine_.AddBlockFilter(record.key, address, &record.filterId);
    // Taken again in between: another session's filter, not a block of ours.
    if (result == kAlreadyExists) return Engine(FilterEngine::kKeyTaken);
  }
  if (result != 0) return Engine(result);
  record.timer.Start(clock_);
  blocks_.push_back(record);
  return Result::Ok();
}

Result Firewall::UnblockPlayer(uint64_t communityId) {
  MutexLock lock(mutex_);
  return UnblockPlayerLocked(communityId);
}

Result Firewall::UnblockPlayerLocked(uint64_t communityId) {
  if (!open_) return Own(shutDown_ ? Result::Kind::kClosed : Result::Kind::kUnavailable, kNotOpen);
  auto it = std::find_if(blocks_.begin(), blocks_.end(),
                         [&](const BlockRecord& r) { return r.CommunityId() == communityId; });
  if (it == blocks_.end()) return Own(Result::Kind::kNotFound, kNoSuchBlock);
  uint32_t result = 0;
  if (!LiftLocked(*it, &result)) return Engine(result);
  blocks_.erase(it);
  return Result::Ok();
}

bool Firewall::LiftLocked(const BlockRecord& record, uint32_t* result) {
  *result = engine_.DeleteFilterById(record.filterId);
  return IsGone(*result);
}

Result Firewall::RemoveBlock(BlockRecord record) {
  MutexLock lock(mutex_);
  if (!open_) return Own(shutDown_ ? Result::Kind::kClosed : Result::Kind::kUnavailable, kNotOpen);
  uint32_t result = 0;
  bool lifted = LiftLocked(record, &result);
  uint64_t communityId = record.CommunityId();
  // Records of the id with other filters go; the given one stays while its
  // filter does.
  blocks_.remove_if([&](const BlockRecord& r) {
    return r.CommunityId() == communityId && (lifted || r.filterId != record.filterId);
  });
  return lifted ? Result::Ok() : Engine(result);
}

void Firewall::RemoveBlocksIf(const Predicate& predicate) {
  MutexLock lock(mutex_);
  if (!open_) return;
  for (auto it = blocks_.begin(); it != blocks_.end();) {
    uint32_t ignored;
    if (predicate(*it) && LiftLocked(*it, &ignored)) {
      it = blocks_.erase(it);
    } else {
      ++it;
    }
  }
}

void Firewall::ClearBlocks() {
  MutexLock lock(mutex_);
  ClearBlocksLocked();
}

std::vector<UnliftedBlock> Firewall::ClearBlocksLocked() {
  std::vector<UnliftedBlock> unlifted;
  if (!open_) return unlifted;
  for (auto it = blocks_.begin(); it != blocks_.end();) {
    uint32_t result = 0;
    if (LiftLocked(*it, &result)) {
      it = blocks_.erase(it);
    } else {
      unlifted.push_back({*it, result});
      ++it;
    }
  }
  return unlifted;
}

Result Firewall::Shutdown(std::chrono::milliseconds lockWait, std::vector<UnliftedBlock>* unlifted) {
  // Polled try_lock rather than a timed lock: the race detector cannot
  // follow pthread's timed locks. The wait is wall time whatever clock the
  // blocks expire by.
  const Deadline deadline(SystemClock(), lockWait);
  while (!mutex_.TryLock()) {
    if (deadline.Passed()) return Result::Failure(Result::Kind::kTimedOut, 0, "an operation held the firewall");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  *unlifted = ShutdownLocked();
  mutex_.Unlock();
  return Result::Ok();
}

std::vector<UnliftedBlock> Firewall::ShutdownLocked() {
  std::vector<UnliftedBlock> unlifted;
  if (open_) {
    unlifted = ClearBlocksLocked();
    engine_.Close();
    open_ = false;
  }
  shutDown_ = true;
  blocks_.clear();
  return unlifted;
}

std::list<BlockRecord> Firewall::Blocks() const {
  MutexLock lock(mutex_);
  return blocks_;
}

std::string BlockFailureLine(uint64_t communityId, uint32_t address, const Result& result) {
  char code[16];
  std::snprintf(code, sizeof(code), "%x", static_cast<unsigned>(result.code()));
  return "Could not block " + std::to_string(communityId) + " ( " + DottedAddress(address) + " ): " + code + "\n";
}

namespace {
constexpr double kBlockMinutes = 5.0;
}  // namespace

bool IsBlockExpired(const BlockRecord& record, const Clock& clock) {
  return record.timer.ElapsedMinutes(clock) >= kBlockMinutes;
}

std::chrono::milliseconds BlockTimeLeft(const BlockRecord& record, const Clock& clock) {
  const double minutesLeft = kBlockMinutes - record.timer.ElapsedMinutes(clock);
  if (minutesLeft <= 0) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(static_cast<int64_t>(minutesLeft / Stopwatch::kMinutesPerSecond * 1000.0));
}

}  // namespace palisard
