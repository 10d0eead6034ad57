#include "admin/key_guesses.h"

#include <algorithm>

namespace palisard {

bool KeyGuesses::Drops(uint32_t address) const {
  const int64_t now = clock_.NowMs();
  MutexLock lock(mutex_);
  const auto found = tries_.find(address);
  return found != tries_.end() && now < found->second.dropUntilMs;
}

bool KeyGuesses::CountInvalidKey(uint32_t address) {
  const int64_t now = clock_.NowMs();
  MutexLock lock(mutex_);
  if (tries_.find(address) == tries_.end()) MakeRoomLocked(now);
  Tries& tries = tries_[address];
  if (now < tries.dropUntilMs) return false;  // already dropped, already told
  if (now - tries.windowStartMs >= limits_.window.count()) tries = Tries{now, 0, 0};
  if (++tries.invalidKeys <= limits_.maxInvalidKeys) return false;
  tries = Tries{now, 0, now + limits_.dropFor.count()};
  return true;
}

bool KeyGuesses::IsStale(const Tries& tries, int64_t nowMs) const {
  return nowMs >= tries.dropUntilMs && nowMs - tries.windowStartMs >= limits_.window.count();
}

void KeyGuesses::MakeRoomLocked(int64_t nowMs) {
  if (tries_.size() < std::max<std::size_t>(limits_.maxAddresses, 1)) return;
  std::erase_if(tries_, [&](const auto& entry) { return IsStale(entry.second, nowMs); });
  if (tries_.size() < std::max<std::size_t>(limits_.maxAddresses, 1)) return;
  // Full of live guessers: the one whose count began longest ago goes, so
  // the newest can still be counted.
  tries_.erase(std::min_element(tries_.begin(), tries_.end(), [](const auto& a, const auto& b) {
    return std::max(a.second.windowStartMs, a.second.dropUntilMs) <
           std::max(b.second.windowStartMs, b.second.dropUntilMs);
  }));
}

}  // namespace palisard
