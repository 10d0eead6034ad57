#include "service/sighting_log.h"

#include <utility>

namespace palisard {

void SightingLog::Add(Sighting sighting) {
  MutexLock lock(mutex_);
  if (waiting_.size() < kLimit) waiting_.push_back(std::move(sighting));
}

std::vector<Sighting> SightingLog::Take() {
  MutexLock lock(mutex_);
  return std::exchange(waiting_, {});
}

}  // namespace palisard
