#include "net/resolve.h"

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "common/clock.h"
#include "common/mutex.h"

namespace palisard {
namespace {

// Lookups still waiting on the system's resolver after their caller gave up.
// Past this many, none is started: a dead name server must not pile up
// threads.
constexpr int kMaxStalledLookups = 4;
std::atomic<int> g_lookupsRunning{0};

}  // namespace

std::optional<std::vector<uint32_t>> ResolveWithin(const Resolver& resolve, const std::string& host,
                                                   std::chrono::milliseconds limit) {
  // Shared with the lookup thread, which may outlive this call.
  struct Lookup {
    Mutex mutex;
    CondVar done;
    std::optional<std::vector<uint32_t>> addresses GUARDED_BY(mutex);
  };
  if (++g_lookupsRunning > kMaxStalledLookups) {
    --g_lookupsRunning;
    return std::nullopt;
  }
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, resolve, host] {
      std::vector<uint32_t> addresses = resolve(host);
      {
        MutexLock lock(lookup->mutex);
        lookup->addresses = std::move(addresses);
      }
      lookup->done.NotifyAll();
      --g_lookupsRunning;
    }).detach();
  } catch (const std::system_error&) {
    --g_lookupsRunning;
    return std::nullopt;
  }
  const Deadline deadline(SystemClock(), limit);
  MutexLock lock(lookup->mutex);
  while (!lookup->addresses && deadline.Remaining().count() > 0)
    lookup->done.WaitFor(lookup->mutex, deadline.Remaining());
  return lookup->addresses;
}

}  // namespace palisard
