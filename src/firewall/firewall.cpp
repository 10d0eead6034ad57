#include "firewall/firewall.h"

#include <algorithm>
#include <thread>

namespace palisard {

using Lock = std::lock_guard<std::mutex>;

Firewall::Firewall(FilterEngine& engine, const Clock& clock) : engine_(engine), clock_(clock) {}

Firewall::~Firewall() {
  Lock lock(mutex_);
  ShutdownLocked();
}

uint32_t Firewall::Initialize() {
  Lock lock(mutex_);
  if (open_) return kAlreadyInitialized;
  uint32_t result = engine_.Open();
  open_ = result == 0;
  return result;
}

uint32_t Firewall::BlockPlayer(uint32_t address, uint64_t communityId) {
  Lock lock(mutex_);
  if (!open_) return kNotOpen;
  if (address == 0 || communityId == 0) return kRefused;

  auto existing = std::find_if(blocks_.begin(), blocks_.end(),
                               [&](const BlockRecord& r) { return r.CommunityId() == communityId; });
  if (existing != blocks_.end()) {
    if (existing->address == address) return kRefused;
    uint32_t lifted = UnblockPlayerLocked(communityId);
    // The old filter holds the key still: adding would only collide with it.
    if (lifted != 0 && lifted != FilterEngine::kFilterNotFound) return lifted;
  }

  BlockRecord record;
  record.key = MakeBlockKey(communityId);
  record.address = address;
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
  return result;
}

uint32_t Firewall::UnblockPlayer(uint64_t communityId) {
  Lock lock(mutex_);
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

uint32_t Firewall::RemoveBlock(BlockRecord record) {
  Lock lock(mutex_);
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
  Lock lock(mutex_);
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
  Lock lock(mutex_);
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
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  while (!lock.owns_lock()) {
    if (deadline.Passed()) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lock.try_lock();
  }
  return ShutdownLocked();
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
  Lock lock(mutex_);
  return blocks_;
}

bool IsBlockExpired(const BlockRecord& record, const Clock& clock) { return record.timer.ElapsedMinutes(clock) >= 5.0; }

}  // namespace palisard
