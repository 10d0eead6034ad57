#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>

#include "common/clock.h"
#include "common/mutex.h"

namespace palisard {

// Slows down whoever guesses vote keys. A vote is authenticated by its
// 32-bit key alone (the wire format fixes its size), which an unchecked
// peer could find in days at thousands of tries a second. An address that
// sends more than `maxInvalidKeys` invalid keys within `window` has its
// admin messages dropped for `dropFor`.
//
// Thread-safe: the admin connection threads share one.
class KeyGuesses {
 public:
  struct Limits {
    int maxInvalidKeys = 5;
    std::chrono::milliseconds window{60'000};
    std::chrono::milliseconds dropFor{600'000};
    // Addresses remembered at once; a stale one makes room first.
    std::size_t maxAddresses = 4096;
  };

  KeyGuesses(const Clock& clock, Limits limits) : clock_(clock), limits_(limits) {}

  // Whether the messages of `address` (host order) are dropped now.
  bool Drops(uint32_t address) const LOCKS_EXCLUDED(mutex_);
  // Counts one invalid key from `address`; true when that one starts
  // dropping its messages (once for each time it does).
  bool CountInvalidKey(uint32_t address) LOCKS_EXCLUDED(mutex_);

  const Limits& limits() const { return limits_; }

 private:
  struct Tries {
    int64_t windowStartMs = 0;
    int invalidKeys = 0;
    int64_t dropUntilMs = 0;
  };

  bool IsStale(const Tries& tries, int64_t nowMs) const;
  void MakeRoomLocked(int64_t nowMs) EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const Clock& clock_;
  const Limits limits_;
  mutable Mutex mutex_;
  std::map<uint32_t, Tries> tries_ GUARDED_BY(mutex_);
};

}  // namespace palisard
