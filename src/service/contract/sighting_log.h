#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mutex.h"
#include "store/store.h"

namespace palisard {

// The GetBanLists answered and not yet stored: the store workers add to it
// as they answer, and the server writes it to the store every few seconds
// in one transaction, so that the contract's hot path never waits for a
// write. What a crash loses is a few seconds of evidence, never a ban or a
// report. Thread-safe.
class SightingLog {
 public:
  // Past this many ids waiting (a database that cannot be written) new
  // sightings are dropped: a request may name a thousand ids, so it is the
  // ids that take the memory (8 MB at most).
  static constexpr std::size_t kIdLimit = 1'000'000;

  void Add(Sighting sighting);
  // Everything waiting, oldest first; the log is empty after.
  std::vector<Sighting> Take();

 private:
  // A host that asks again about the same players before the log is
  // written adds only a later time: of such a run the log keeps the
  // earliest and the latest sighting, which mark the same stay as all
  // of them (the log is written far more often than a stay may pause).
  struct Run {
    std::size_t earliest;
    std::size_t latest;
  };

  Mutex mutex_;
  std::vector<Sighting> waiting_ GUARDED_BY(mutex_);
  std::size_t waitingIds_ GUARDED_BY(mutex_) = 0;
  std::unordered_map<std::string, Run> runs_ GUARDED_BY(mutex_);  // by host and ids
};

}  // namespace palisard
