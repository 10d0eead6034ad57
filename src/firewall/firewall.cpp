#include "firewall/firewall.h"

#include "common/ipv4.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace palisard {

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

FirewallResult Firewall::Initialize() {
  MutexLock lock(mutex_);
  if (open_) return kAlreadyInitialized;
  uint32_t result = engine_.Open();
  open_ = result == 0;
  return result;
}

FirewallResult Firewall::BlockPlayer(uint32_t address, uint64_t communityId, BlockReason reason) {
  MutexLock lock(mutex_);
  if (!open_) return kNotOpen;
  if (address == 0 || communityId == 0) return kRefused;

  auto existing = std::find_if(blocks_.begin(), blocks_.end(),
                               [&](const BlockRecord& r) { return r.CommunityId() == communityId; });
  if (existing != blocks_.end()) {
    if (existing->address == address) return {kRefused, true};
    uint32_t lifted = UnblockPlayerLocked(communityId);
    // The old filter holds the key still: adding would only collide with it.
    if (lifted != 0 && lifted != FilterEngine::kFilterNotFound) return lifted;
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
    uint32_t deleted = engine_.DeleteFilterByKey(record.key);
    if (deleted != 0 && deleted != FilterEngine::kFilterNotFound) return deleted;
    uint32_t retry = engine_.AddBlockFilter(record.key, address, &record.filterId);
    // Taken again in between: another session's filter, not a block of ours.
    if (retry == kAlreadyExists) return FilterEngine::kKeyTaken;
    if (retry != 0) return retry;
  } else if (result != 0) {
    return result;
  }
  record.timer.Start(clock_);
  blocks_.push_back(record);
  return {result, true};
}

FirewallResult Firewall::UnblockPlayer(uint64_t communityId) {
  MutexLock lock(mutex_);
  return UnblockPlayerLocked(communityId);
}

uint32_t Firewall::UnblockPlayerLocked(uint64_t communityId) {
  if (!open_) return kNotOpen;
  auto it = std::find_if(blocks_.begin(), blocks_.end(),
                         [&](const BlockRecord& r) { return r.CommunityId() == communityId; });
  if (it == blocks_.end()) return kNoSuchBlock;
  uint32_t result = 0;
  if (LiftLocked(*it, &result)) blocks_.erase(it);
  return result;
}

bool Firewall::LiftLocked(const BlockRecord& record, uint32_t* result) {
  *result = engine_.DeleteFilterById(record.filterId);
  return *result == 0 || *result == FilterEngine::kFilterNotFound;
}

FirewallResult Firewall::RemoveBlock(BlockRecord record) {
  MutexLock lock(mutex_);
  if (!open_) return kNotOpen;
  uint32_t result = 0;
  bool lifted = LiftLocked(record, &result);
  uint64_t communityId = record.CommunityId();
  // Records of the id with other filters go; the given one stays while its
  // filter does.
  blocks_.remove_if([&](const BlockRecord& r) {
    return r.CommunityId() == communityId && (lifted || r.filterId != record.filterId);
  });
  return result;
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

std::optional<std::vector<UnliftedBlock>> Firewall::Shutdown(std::chrono::milliseconds lockWait) {
  // Polled try_lock rather than a timed lock: the race detector cannot
  // follow pthread's timed locks. The wait is wall time whatever clock the
  // blocks expire by.
  const Deadline deadline(SystemClock(), lockWait);
  while (!mutex_.TryLock()) {
    if (deadline.Passed()) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<UnliftedBlock> unlifted = ShutdownLocked();
  mutex_.Unlock();
  return unlifted;
}

std::vector<UnliftedBlock> Firewall::ShutdownLocked() {
  std::vector<UnliftedBlock> unlifted;
  if (open_) {
    unlifted = ClearBlocksLocked();
    engine_.Close();
    open_ = false;
  }
  blocks_.clear();
  return unlifted;
}

std::list<BlockRecord> Firewall::Blocks() const {
  MutexLock lock(mutex_);
  return blocks_;
}

std::string BlockFailureLine(uint64_t communityId, uint32_t address, const FirewallResult& result) {
  char code[16];
  std::snprintf(code, sizeof(code), "%x", static_cast<unsigned>(result.code()));
  return "Could not block " + std::to_string(communityId) + " ( " + DottedAddress(address) + " ): " + code + "\n";
}

namespace {
constexpr double kBlockMinutes = 5.0;
constexpr double kSecondsPerComputedMinute = 1.0 / 0.01667;
}  // namespace

bool IsBlockExpired(const BlockRecord& record, const Clock& clock) {
  return record.timer.ElapsedMinutes(clock) >= kBlockMinutes;
}

std::chrono::milliseconds BlockTimeLeft(const BlockRecord& record, const Clock& clock) {
  const double minutesLeft = kBlockMinutes - record.timer.ElapsedMinutes(clock);
  if (minutesLeft <= 0) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(static_cast<int64_t>(minutesLeft * kSecondsPerComputedMinute * 1000.0));
}

}  // namespace palisard
