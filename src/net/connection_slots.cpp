#include "net/connection_slots.h"

namespace palisard {

bool ConnectionSlots::TryAcquire(uint32_t address) {
  MutexLock lock(mutex_);
  std::size_t& fromAddress = byAddress_[address];
  if (inUse_ >= total_ || fromAddress >= perAddress_) {
    if (fromAddress == 0) byAddress_.erase(address);
    return false;
  }
  ++inUse_;
  ++fromAddress;
  return true;
}

void ConnectionSlots::Release(uint32_t address) {
  MutexLock lock(mutex_);
  auto it = byAddress_.find(address);
  if (it == byAddress_.end()) return;
  --inUse_;
  if (--it->second == 0) byAddress_.erase(it);
}

std::size_t ConnectionSlots::inUse() const {
  MutexLock lock(mutex_);
  return inUse_;
}

}  // namespace palisard
