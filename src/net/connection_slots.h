#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "common/mutex.h"

namespace palisard {

// Bounds the connections served at once, in all and from one address, so
// that idle or hostile peers cannot take every thread. Thread-safe.
class ConnectionSlots {
 public:
  ConnectionSlots(std::size_t total, std::size_t perAddress) : total_(total), perAddress_(perAddress) {}

  // Takes a slot for a connection from `address` (host order); false when a
  // limit is reached and the connection should be closed at once.
  bool TryAcquire(uint32_t address);
  void Release(uint32_t address);
  std::size_t inUse() const;
  std::size_t capacity() const { return total_; }

 private:
  const std::size_t total_;
  const std::size_t perAddress_;
  mutable Mutex mutex_;
  std::size_t inUse_ GUARDED_BY(mutex_) = 0;
  std::map<uint32_t, std::size_t> byAddress_ GUARDED_BY(mutex_);
};

}  // namespace palisard
