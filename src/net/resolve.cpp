#include "net/resolve.h"

#include <atomic>
#include <memory>
#include <optional>
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

Result ResolveWithin(const Resolver& resolve, const std::string& host, std::chrono::milliseconds limit,
                     std::vector<uint32_t>* addresses) {
  // Shared with the lookup thread, which may outlive this call.
  struct Lookup {
    Mutex mutex;
    CondVar done;
    std::optional<Result> result GUARDED_BY(mutex);
    std::vector<uint32_t> addresses GUARDED_BY(mutex);
  };
  const Result stalled = Result::Failure(Result::Kind::kUnavailable, 0, "too many name lookups stalled");
  if (++g_lookupsRunning > kMaxStalledLookups) {
    --g_lookupsRunning;
    return stalled;
  }
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, resolve, host] {
      std::vector<uint32_t> found;
      Result result = resolve(host, &found);
      {
        MutexLock lock(lookup->mutex);
        lookup->result = std::move(result);
        lookup->addresses = std::move(found);
      }
      lookup->done.NotifyAll();
      --g_lookupsRunning;
    }).detach();
  } catch (const std::system_error&) {
    --g_lookupsRunning;
    return stalled;
  }
  const Deadline deadline(SystemClock(), limit);
  MutexLock lock(lookup->mutex);
  while (!lookup->result && !deadline.Passed()) lookup->done.WaitFor(lookup->mutex, deadline.Remaining());
  if (!lookup->result) return Result::Failure(Result::Kind::kTimedOut, 0, "name lookup took too long");
  *addresses = lookup->addresses;
  return *lookup->result;
}

}  // namespace palisard
