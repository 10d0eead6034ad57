#include "service/contract/sighting_log.h"

#include <algorithm>
#include <utility>

namespace palisard {
namespace {

std::string RunKey(const Sighting& sighting) {
  std::string key = sighting.source;
  key.push_back('\0');
  key.append(reinterpret_cast<const char*>(sighting.ids.data()), sighting.ids.size() * sizeof(sighting.ids[0]));
  return key;
}

}  // namespace

void SightingLog::Add(Sighting sighting) {
  MutexLock lock(mutex_);
  std::string key = RunKey(sighting);
  auto run = runs_.find(key);
  const UnixTime at = sighting.at;
  if (run == runs_.end() || run->second.earliest == run->second.latest) {
    if (waitingIds_ + sighting.ids.size() > kIdLimit) return;
    waitingIds_ += sighting.ids.size();
    const std::size_t index = waiting_.size();
    waiting_.push_back(std::move(sighting));
    if (run == runs_.end()) {
      runs_.emplace(std::move(key), Run{index, index});
      return;
    }
    run->second.latest = index;
  }
  Sighting& earliest = waiting_[run->second.earliest];
  Sighting& latest = waiting_[run->second.latest];
  const UnixTime from = std::min({earliest.at, latest.at, at});
  latest.at = std::max({earliest.at, latest.at, at});
  earliest.at = from;
}

std::vector<Sighting> SightingLog::Take() {
  MutexLock lock(mutex_);
  runs_.clear();
  waitingIds_ = 0;
  return std::exchange(waiting_, {});
}

}  // namespace palisard
