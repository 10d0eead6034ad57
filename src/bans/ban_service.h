#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "common/console_output.h"
#include "common/mutex.h"
#include "common/result.h"
#include "common/stopwatch.h"
#include "net/http_client.h"
#include "net/resolve.h"
#include "net/socket.h"
#include "soap/soap_codec.h"

namespace palisard {

// One cache entry: a player's last answer from the service.
struct BanStatus {
  uint64_t communityId = 0;
  uint32_t banScore = 0;
  bool isBanned = false;
  Stopwatch timer;  // since the entry was made or last refreshed
};

// The client of the SOAP ban service: reports players and, while hosting,
// asks about the present ones (ban streaming), keeping their answers in a
// cache. Used from the web threads (reports), the ban-lookup worker (ban
// lists) and the watcher (reading the cache): the host, the server address
// and the cache are guarded by one lock that is never held across network
// I/O.
class BanService {
 public:
  using Resolver = palisard::Resolver;

  struct Options {
    uint16_t port = 80;
    HttpClientLimits limits;
    // After a ban-list exchange without a usable answer, the next waits
    // this long.
    std::chrono::milliseconds retryAfterFailure{10'000};
    // The system's name resolution has no time limit; past this a request
    // stops waiting for it.
    std::chrono::milliseconds resolveLimit{3'000};
    Resolver resolve = ResolveIpv4;
    // The cache forgets the least recently answered players beyond this.
    std::size_t cacheCapacity = 4096;
  };

  BanService(const Clock& clock, Options options, ConsoleSink& console = StandardOutput());
  virtual ~BanService() = default;

  // Streaming on: while hosting, ask about present players and block the
  // banned ones.
  std::atomic<bool> streaming{true};

  // The host is kept masked with a per-object key, never in clear.
  void SetHost(const std::string& host) LOCKS_EXCLUDED(mutex_);
  std::string GetHost() const LOCKS_EXCLUDED(mutex_);

  // Resolves the host and finds an address that accepts a connection.
  virtual Result FindServer();
  // Reports `reportedId` in the name of `reporterId`; ok when the service
  // answered with a result, which goes to `accepted`; kInvalid when its
  // answer held none.
  virtual Result AddInfraction(uint64_t reporterId, uint64_t reportedId, bool* accepted);
  // Asks about the ids that need asking (see ShouldQuery), when at least
  // `minimumToSend` of them do; the answers go to the cache. Ok when nothing
  // was due or the answer named asked ids; otherwise the next request waits
  // (Options::retryAfterFailure). Blocks for the exchange: not for the
  // watcher's thread.
  virtual Result GetBanList(std::vector<uint64_t> ids, std::size_t minimumToSend);

  bool ShouldQuery(uint64_t communityId) const LOCKS_EXCLUDED(mutex_);
  // Whether GetBanList with these arguments would send a request now.
  bool WouldAsk(const std::vector<uint64_t>& ids, std::size_t minimumToSend) const LOCKS_EXCLUDED(mutex_);
  void UpdateBanStatus(BanStatus record) LOCKS_EXCLUDED(mutex_);
  // What the cache says of the id (stale or not); nothing when unknown.
  std::optional<bool> IsBanned(uint64_t communityId) const LOCKS_EXCLUDED(mutex_);

 private:
  struct CacheEntry {
    BanStatus status;
    std::list<uint64_t>::iterator age;
  };

  bool ShouldQueryLocked(uint64_t communityId) const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Marks the ids that need no asking 0; whether a request is due for the
  // rest.
  bool DueLocked(std::vector<uint64_t>& ids, std::size_t minimumToSend) const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // One SOAP exchange: ok once an answer arrived, whatever its status.
  Result SoapCall(const std::string& document, SoapOperation operation, HttpAnswer* answer);

  const Clock& clock_;
  Options options_;
  ConsoleSink& console_;
  const uint8_t hostKey_;

  mutable Mutex mutex_;
  std::string host_ GUARDED_BY(mutex_);  // masked
  Ipv4Endpoint serverAddress_ GUARDED_BY(mutex_);
  std::unordered_map<uint64_t, CacheEntry> banStatuses_ GUARDED_BY(mutex_);
  std::list<uint64_t> byAge_ GUARDED_BY(mutex_);  // least recently answered first
  std::optional<int64_t> retryAfterMs_ GUARDED_BY(mutex_);
};

// Each byte XOR `key`; applying it twice gives the text back.
std::string MaskText(const std::string& text, uint8_t key);

}  // namespace palisard
