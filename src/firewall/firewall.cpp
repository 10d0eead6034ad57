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
    UnblockPlayerLocked(communityId);
  }

  BlockRecord record;
  record.key = MakeBlockKey(communityId);
  record.address = address;
  uint32_t result = engine_.AddBlockFilter(record.key, address, &record.filterId);
  if (result == kAlreadyExists) {
    // A filter with this key outlived an earlier run. Replace it so the
    // record holds an id that can lift the block later.
    engine_.DeleteFilterByKey(record.key);
    uint32_t retry = engine_.AddBlockFilter(record.key, address, &record.filterId);
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
  uint64_t filterId = it->filterId;
  blocks_.erase(it);
  return engine_.DeleteFilterById(filterId);
}

uint32_t Firewall::RemoveBlock(BlockRecord record) {
  Lock lock(mutex_);
  if (!open_) return kNotOpen;
  uint64_t communityId = record.CommunityId();
  blocks_.remove_if([&](const BlockRecord& r) { return r.CommunityId() == communityId; });
  return engine_.DeleteFilterById(record.filterId);
}

void Firewall::RemoveBlocksIf(const Predicate& predicate) {
  Lock lock(mutex_);
  if (!open_) return;
  for (auto it = blocks_.begin(); it != blocks_.end();) {
    if (predicate(*it)) {
      engine_.DeleteFilterById(it->filterId);
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

void Firewall::ClearBlocksLocked() {
  if (!open_) return;
  for (const BlockRecord& record : blocks_) engine_.DeleteFilterById(record.filterId);
  blocks_.clear();
}

bool Firewall::Shutdown(std::chrono::milliseconds lockWait) {
  // Polled try_lock rather than a timed lock: the race detector cannot
  // follow pthread's timed locks. The wait is wall time whatever clock the
  // blocks expire by.
  const Deadline deadline(SystemClock(), lockWait);
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  while (!lock.owns_lock()) {
    if (deadline.Passed()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lock.try_lock();
  }
  ShutdownLocked();
  return true;
}

void Firewall::ShutdownLocked() {
  if (open_) {
    ClearBlocksLocked();
    engine_.Close();
    open_ = false;
  }
  blocks_.clear();
}

std::list<BlockRecord> Firewall::Blocks() const {
  Lock lock(mutex_);
  return blocks_;
}

bool IsBlockExpired(const BlockRecord& record, const Clock& clock) {
  return record.timer.ElapsedMinutes(clock) >= 5.0;
}

}  // namespace palisard
